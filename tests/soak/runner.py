"""Runs `brannock --headless` on the simulated tuners and watches it: status
lines (time-stamped as they arrive), /proc samples, the growth of the
devices' delivery logs (a record pass happened), and the injected disk
faults on a small file system of its own."""
import ctypes
import errno
import json
import os
import signal
import subprocess
import threading
import time

from scenario import change_channel_setting

POLL = 0.005


class DiskFaults:
    """The recording folder on a tmpfs of its own: filling it with a ballast
    file makes every write fail (no space) until the ballast goes again."""

    def __init__(self, folder, size_mb):
        self.folder = folder
        self.mounted = False
        os.makedirs(folder, exist_ok=True)
        if os.geteuid() == 0:
            subprocess.run(["umount", folder], stderr=subprocess.DEVNULL)
            done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % size_mb, "tmpfs", folder],
                                  stderr=subprocess.DEVNULL)
            self.mounted = done.returncode == 0
        self.ballast = os.path.join(folder, "ballast.bin")

    def fill(self):
        fd = os.open(self.ballast, os.O_WRONLY | os.O_CREAT, 0o644)
        try:
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

    def clear(self):
        try:
            os.unlink(self.ballast)
        except FileNotFoundError:
            pass

    def release(self):
        self.clear()
        if self.mounted:
            subprocess.run(["umount", "-l", self.folder], stderr=subprocess.DEVNULL)


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
    FIELDS = ("lines", "samples", "growth_gaps", "disk_applied", "channel_changed_at", "exit_status", "stderr")

    def __init__(self):
        self.lines = []          # (seconds since start, text)
        self.samples = []        # (seconds, fds, threads, rss kB)
        self.growth_gaps = []    # (seconds at end of gap, gap seconds)
        self.disk_applied = []   # (start, end) as really applied
        self.channel_changed_at = None
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
                setattr(run, k, [tuple(x) for x in v] if isinstance(v, list) else v)
        return run


def _prepare_child():
    os.setsid()
    # Ask the kernel to end the recorder with us if we die.
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)


def run_recorder(brannock, scenario, sim_path, config_dir, work, disk, delivery_logs):
    env = dict(os.environ)
    env.update({"TZ": "Asia/Tokyo", "XDG_RUNTIME_DIR": os.path.join(work, "run"),
                "QT_QPA_PLATFORM": "offscreen"})
    env.pop("ONESEG_TIME_SCALE", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], exist_ok=True)
    run = Run()
    proc = subprocess.Popen([brannock, "--headless", "--simulate", sim_path, "--config-dir", config_dir],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            preexec_fn=_prepare_child)
    t0 = time.monotonic()

    def read_lines():
        for raw in proc.stdout:
            run.lines.append((time.monotonic() - t0, raw.decode("utf-8", "replace").rstrip("\n")))

    reader = threading.Thread(target=read_lines, daemon=True)
    reader.start()
    disk_plan = list(scenario.disk_windows) if disk.mounted else []
    sizes = {path: 0 for path in delivery_logs}
    last_growth = None
    next_sample = 0.0
    filled_at = None
    try:
        while True:
            now = time.monotonic() - t0
            if now >= scenario.real_seconds or proc.poll() is not None:
                break
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
                next_sample = now + 1.0
            if filled_at is None and disk_plan and now >= disk_plan[0][0]:
                filled_at = now  # writes may fail from the first ballast byte on
                disk.fill()
            elif filled_at is not None and now >= disk_plan[0][1]:
                disk.clear()
                run.disk_applied.append((filled_at, time.monotonic() - t0))
                disk_plan.pop(0)
                filled_at = None
            if run.channel_changed_at is None and now >= scenario.channel_change_at:
                change_channel_setting(config_dir)
                run.channel_changed_at = now
            time.sleep(POLL)
    finally:
        if filled_at is not None:
            disk.clear()
            run.disk_applied.append((filled_at, time.monotonic() - t0))
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
