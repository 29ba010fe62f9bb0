"""Runs `brannock --headless` on the simulated tuners and watches it: status
lines (time-stamped as they arrive), /proc samples, the growth of the
devices' delivery logs (a record pass happened), and the injected disk
faults on a small ext4 file system of its own: the recording folder appearing
late, the disk filling up before broadcast midnight, short windows of a full
disk, and the disk frozen for a few seconds (fsfreeze: every write, open and
mkdir on it waits until it is thawed)."""
import ctypes
import errno
import json
import os
import signal
import subprocess
import sys
import threading
import time

from scenario import USB_TUNERS, change_channel_setting

POLL = 0.005
HARNESS_LAG = 0.25  # seconds between two looks of the watcher that count as its own lag


class Disk:
    """A small ext4 file system of the run's own, loop-mounted at `mount_point`
    (the recording folder lies inside it). Ballast files fill it: writes and
    the creation of folders then fail with ENOSPC. Mounting needs root; when it
    is refused, `why_not` says so and the disk faults are left out."""

    def __init__(self, mount_point, image, size_mb):
        self.folder = mount_point
        self.image = image
        self.mounted = False
        self.why_not = ""
        self.freezing = None  # the fsfreeze -f under way or done
        self.release()
        os.makedirs(mount_point, exist_ok=True)
        if os.geteuid() != 0:
            self.why_not = "not root"
            return
        with open(image, "wb") as f:
            f.truncate(size_mb << 20)
        made = subprocess.run(["mkfs.ext4", "-q", "-F", "-m", "0", image], capture_output=True, text=True)
        done = made if made.returncode else subprocess.run(["mount", "-o", "loop", image, mount_point],
                                                           capture_output=True, text=True)
        self.mounted = done.returncode == 0
        if not self.mounted:
            self.why_not = (done.stderr.strip() or "mount failed").splitlines()[-1]
            os.unlink(image)

    def ballast(self, name):
        return os.path.join(self.folder, name)

    def fill(self, name="ballast.bin"):
        fd = os.open(self.ballast(name), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            # Allocating the bulk is fast (nothing written); writing tops it up to the last block.
            room = self.free_bytes() - (1 << 20)
            if room > 0:
                try:
                    os.posix_fallocate(fd, os.fstat(fd).st_size, room)
                except OSError as e:
                    if e.errno != errno.ENOSPC:
                        raise
            chunk = 1 << 20
            while chunk >= 512:
                try:
                    os.write(fd, b"\0" * chunk)
                except OSError as e:
                    if e.errno != errno.ENOSPC:
                        raise
                    chunk //= 4
        finally:
            os.close(fd)

    def clear(self, name="ballast.bin"):
        try:
            os.unlink(self.ballast(name))
        except FileNotFoundError:
            pass

    def freeze(self):
        """Started, not waited for: freezing first writes back what is dirty,
        which must not hold up the watcher. None, or why it could not start."""
        try:
            self.freezing = subprocess.Popen(["fsfreeze", "-f", self.folder], stderr=subprocess.PIPE)
        except OSError as e:
            return str(e)
        return None

    def thaw(self):
        """Also when the freeze is still under way. Whatever failed, say why."""
        freezing, self.freezing = self.freezing, None
        if freezing:
            _out, err = freezing.communicate()
            if freezing.returncode:
                return err.decode("utf-8", "replace").strip() or "fsfreeze -f failed"
        thawed = subprocess.run(["fsfreeze", "-u", self.folder], capture_output=True, text=True)
        return thawed.stderr.strip() if thawed.returncode and freezing else None

    def free_bytes(self):
        st = os.statvfs(self.folder)
        return st.f_bavail * st.f_frsize

    def release(self):
        unmount(self.folder)
        self.mounted = False
        if os.path.exists(self.image):
            os.unlink(self.image)


def unmount(folder):
    """Also a mount a crashed earlier run left (perhaps frozen); the loop
    device goes with it."""
    if os.path.ismount(folder):
        subprocess.run(["fsfreeze", "-u", folder], stderr=subprocess.DEVNULL)
        if subprocess.run(["umount", folder], stderr=subprocess.DEVNULL).returncode:
            subprocess.run(["umount", "-l", folder], stderr=subprocess.DEVNULL)


def proc_sample(pid):
    try:
        fds = len(os.listdir("/proc/%d/fd" % pid))
        fields = {}
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
        return fds, int(fields["Threads"]), int(fields["VmRSS"].split()[0])
    except (OSError, KeyError, ValueError):
        return None


class Run:
    FIELDS = ("lines", "samples", "growth_gaps", "disk_applied", "channel_changed_at", "exit_status", "stderr",
              "parts", "folder_appeared_at", "folder_error", "midnight_filled_at", "free_bytes", "harness_lags",
              "freeze_applied", "freeze_error")

    def __init__(self):
        self.lines = []          # (seconds since start, text)
        self.samples = []        # (seconds, fds, threads, rss kB)
        self.growth_gaps = []    # (seconds at end of gap, gap seconds)
        self.harness_lags = []   # (seconds at end, seconds) the watcher itself did not look
        self.disk_applied = []   # (start, end) as really applied
        self.channel_changed_at = None
        self.parts = []           # the parts of the scenario this run had
        self.folder_appeared_at = None
        self.folder_error = None
        self.midnight_filled_at = None
        self.free_bytes = []      # (seconds, free bytes of the disk)
        self.freeze_applied = None  # (start, end) of the frozen disk as really applied
        self.freeze_error = None
        self.exit_status = None
        self.stderr = ""

    def save(self, path):
        with open(path, "w") as f:
            json.dump({k: getattr(self, k) for k in self.FIELDS}, f)

    @classmethod
    def load(cls, path):
        run = cls()
        with open(path) as f:
            for k, v in json.load(f).items():
                setattr(run, k, [tuple(x) if isinstance(x, list) else x for x in v] if isinstance(v, list) else v)
        return run


def _prepare_child():
    os.setsid()
    # Ask the kernel to end the recorder with us if we die.
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)


def timed_actions(scenario, disk, run, config_dir, staging, ts_folder, clock):
    """(real second, action) of everything the harness does to the recorder's
    world during the run; each action gets the second it runs at."""
    actions = []
    filled = {}

    def appear(now):
        # One rename: the folder and the archive in it appear at once.
        try:
            os.rename(staging, ts_folder)
            run.folder_appeared_at = now
        except OSError as e:
            run.folder_error = "%s (%s)" % (ts_folder, e.strerror)

    def fill(now):
        filled["at"] = now  # writes may fail from the first ballast byte on
        disk.fill()

    def clear(_now):
        disk.clear()
        run.disk_applied.append((filled.pop("at"), clock()))

    def fill_before_midnight(now):
        run.midnight_filled_at = now
        disk.fill("midnight.bin")  # stays: only retention can make room again
        run.free_bytes.append((clock(), disk.free_bytes()))

    def freeze(now):
        filled["frozen"] = now
        run.freeze_error = disk.freeze()

    def thaw(_now):
        error = disk.thaw()
        run.freeze_error = run.freeze_error or error
        run.freeze_applied = (filled.pop("frozen"), clock())

    def change_channel(now):
        change_channel_setting(config_dir)
        run.channel_changed_at = now

    if scenario.folder_appears_at is not None:
        actions.append((scenario.folder_appears_at, appear))
    early = FolderWatch(run, appear, actions) if scenario.folder_appears_at is not None else None
    if disk.mounted:
        for a, b in scenario.disk_windows:
            actions += [(a, fill), (b, clear)]
        if scenario.midnight_fill_at is not None:
            actions.append((scenario.midnight_fill_at, fill_before_midnight))
        if scenario.freeze is not None:
            actions += [(scenario.freeze[0], freeze), (scenario.freeze[1], thaw)]
    actions.append((scenario.channel_change_at, change_channel))
    actions.sort(key=lambda x: x[0])

    def finish():
        if "frozen" in filled:
            thaw(None)
        if "at" in filled:
            clear(None)
    return actions, early, finish


class FolderWatch:
    """Makes the recording folder appear as soon as every USB tuner has shown
    that it could not record into it (a second later), so that each of them
    loses packets to the missing folder and must resume by itself."""
    GRACE = 1.0

    def __init__(self, run, appear, actions):
        self.run, self.appear, self.actions = run, appear, actions
        self.seen = 0
        self.failed = set()
        self.due = None

    def poll(self, now):
        lines = self.run.lines
        for _t, text in lines[self.seen:]:
            serial, sep, status = text.partition("：")
            if sep and status.startswith("Error:録画ファイル書き込み失敗"):
                self.failed.add(serial)
        self.seen = len(lines)
        if self.due is None and self.failed >= {s for s, _m, _c, _st in USB_TUNERS}:
            self.due = now + self.GRACE
        if self.due is not None and now >= self.due and self.run.folder_appeared_at is None:
            for item in [a for a in self.actions if a[1] is self.appear]:
                self.actions.remove(item)
            self.appear(now)


def run_recorder(brannock, scenario, sim_path, config_dir, work, disk, delivery_logs, staging, ts_folder):
    env = dict(os.environ)
    env.update({"TZ": "Asia/Tokyo", "XDG_RUNTIME_DIR": os.path.join(work, "run"),
                "QT_QPA_PLATFORM": "offscreen"})
    env.pop("ONESEG_TIME_SCALE", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], exist_ok=True)
    cwd = os.path.join(work, "cwd")  # where recordings would go if the recording folder were dropped
    os.makedirs(cwd, exist_ok=True)
    run = Run()
    run.parts = sorted(scenario.parts)
    proc = subprocess.Popen([brannock, "--headless", "--simulate", sim_path, "--config-dir", config_dir],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=cwd,
                            preexec_fn=_prepare_child)
    t0 = time.monotonic()

    def clock():
        return time.monotonic() - t0

    def read_lines():
        for raw in proc.stdout:
            run.lines.append((clock(), raw.decode("utf-8", "replace").rstrip("\n")))

    reader = threading.Thread(target=read_lines, daemon=True)
    reader.start()
    actions, early, finish = timed_actions(scenario, disk, run, config_dir, staging, ts_folder, clock)
    sizes = {path: 0 for path in delivery_logs}
    last_growth = None
    next_sample = 0.0
    looked = 0.0
    try:
        while True:
            now = clock()
            if now >= scenario.real_seconds or proc.poll() is not None:
                break
            # A machine too busy to run the watcher makes it see gaps that are its own.
            if now - looked > HARNESS_LAG:
                run.harness_lags.append((now, now - looked))
            looked = now
            grew = False
            for path in delivery_logs:
                try:
                    size = os.stat(path).st_size
                except FileNotFoundError:
                    continue
                if size != sizes[path]:
                    sizes[path] = size
                    grew = True
            if grew:
                if last_growth is not None:
                    run.growth_gaps.append((now, now - last_growth))
                last_growth = now
            if now >= next_sample:
                sample = proc_sample(proc.pid)
                if sample:
                    run.samples.append((now,) + sample)
                if disk.mounted:
                    run.free_bytes.append((now, disk.free_bytes()))
                next_sample = now + 1.0
            if early and run.folder_appeared_at is None:
                early.poll(now)
            while actions and now >= actions[0][0]:
                actions.pop(0)[1](now)
            time.sleep(POLL)
    finally:
        finish()
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        try:
            run.exit_status = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            run.exit_status = proc.wait()
        reader.join(timeout=5)
        run.stderr = proc.stderr.read().decode("utf-8", "replace")
    return run


class Load:
    """What a busy machine runs beside the recorder: CPU-bound processes and a
    writer that syncs 64 MB at a time to the disk under the work folder."""

    def __init__(self, work, cpus=2):
        target = os.path.join(work, "load.dd")
        writer = "while :; do dd if=/dev/zero of=%s bs=1M count=64 conv=fsync status=none; done" % target
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(cpus)]
        self.procs.append(subprocess.Popen(["sh", "-c", writer], start_new_session=True))
        self.target = target

    def stop(self):
        for proc in self.procs:
            try:
                os.killpg(proc.pid, signal.SIGTERM) if proc.args[0] == "sh" else proc.terminate()
            except ProcessLookupError:
                pass
            proc.wait()
        if os.path.exists(self.target):
            os.unlink(self.target)
