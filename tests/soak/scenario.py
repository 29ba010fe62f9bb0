"""The soak scenario: four simulated tuners, their stations, the seeded
fault schedule, the recorder's settings and an archive of old recordings
that retention must thin out."""
import datetime
import json
import os
import random

from streams import station_stream

BITRATE = 12032            # bits per broadcast second: 8 units per second
UNITS_PER_SECOND = BITRATE / (188 * 8)
# A time packet about every 5 broadcast seconds; not a multiple of 5, so that
# a fault spoiling every fifth unit spares some of them.
TIME_EVERY = 41
LOOP = 41 * 799            # packets per station loop (about 4095 broadcast seconds)
START = datetime.datetime(2026, 12, 6, 21, 0, 0)
REC_DAYS = 1

# (serial, model, channel, station number); channels differ, so every
# recording file belongs to one tuner.
USB_TUNERS = [("SOAKA1", "A", 27, 1), ("SOAKM1", "Mini", 35, 2), ("SOAKA2", "A", 41, 3)]
CHANGED_CHANNEL = (44, 4)  # SOAKA2 moves here through its settings
# A tuner whose every boot fails, first in the device list: the tuners after
# it must still be served.
FAILING_TUNER = ("SOAKBAD", "A", 50)
DRIVER_ID = "__._ISDBT"
DRIVER_CHANNEL = 27
STALE_STATION = 1          # carries the broadcast clock stepping back
# Right before a time packet, so that only the stale packet itself lands in
# the stepped-back period's file.
STALE_POS = (LOOP // 2 // TIME_EVERY) * TIME_EVERY - 1

# Composite faults: (name, [(sim fault type, start offset, duration range)]).
# Offsets count from the composite's start; the duration of a following part
# starts when the previous part ends.
FAULT_KINDS = [
    ("vanish", [("vanish", (2.0, 6.0))]),
    ("vanish_open_fail", [("vanish", (2.0, 4.0)), ("open_fail", (2.0, 5.0))]),
    ("vanish_boot_fail", [("vanish", (2.0, 4.0)), ("garbled_reply", (1.5, 4.0))]),
    ("vanish_short_write", [("vanish", (2.0, 4.0)), ("short_write", (1.5, 3.0))]),
    ("rx_queue_fail", [("rx_queue_fail", (0.3, 1.5))]),
    ("read_fail", [("read_fail", (0.2, 1.0))]),
    ("signal_loss", [("signal_loss", (17.0, 26.0))]),
    ("corrupt_units", [("corrupt_units", (1.0, 4.0))]),
]
DRIVER_FAULT_KINDS = ["vanish", "vanish_open_fail", "vanish_short_write"]
RECOVERY_ROOM = 12.0       # seconds a tuner may take to stream again
LONG_SIGNAL_LOSS = 90.0    # five watchdog firings: re-initialisation
# Without room for that (a short run), a silence the watchdog must still act on
# while the other tuners start and one fails every boot: more than 19 s after
# a boot up to 9 s into it.
FIRST_SIGNAL_LOSS = 28.0
DRIVER_QUIET = 95.0
# The parts of the unattended run beyond the seeded faults; each can be left out.
PARTS = ("failing_tuner", "late_folder", "midnight_full", "time_jump", "shared_channel", "slip", "slow_disk")
LATE_FOLDER_LATEST = 45.0  # real seconds: the recording folder appears by then at the latest
MIDNIGHT_FILL_AHEAD = 120  # broadcast seconds before midnight the disk is filled ...
MIDNIGHT_FILL_ROOM = 3.0   # ... and at least these real seconds: filling a nearly full ext4 takes a while
MIDNIGHT_RESUME = 60       # broadcast seconds after midnight recording must have resumed by
JUMP_TUNER = "SOAKM1"
JUMP_OFFSET = 2 * 365 * 86400  # a broadcast time two years ahead, for one time packet
# A second tuner on SOAKA1's channel: the two fall silent in turn, so that
# whichever of them writes the channel goes silent once while the other hears
# it. The one that follows must take the channel over after 5 s.
FOLLOWER = ("SOAKF1", "A", 27)
WRITER_SILENCE = 10.5      # real seconds of each silence (no watchdog firing: under 15 s)
FOLLOW_AFTER = 5.0         # seconds of a writer's silence before the follower writes ...
FOLLOW_ROOM = 3.0          # ... and what a busy machine may add
# Three slips of three stray bytes each into SOAKA2's stream, a second apart:
# each may cost the unit it lands before, never the rest of a read.
SLIP_TUNER = "SOAKA2"
SLIPS = 3
SLIP_LOSS = 2              # units one slip may cost
# The recording disk frozen (fsfreeze) for a few real seconds from shortly
# before a ten-minute boundary, when every tuner opens a new pair, and away
# from the hourly retention sweep: one of these broadcast seconds of an hour.
FREEZE_SECONDS = 3.0
FREEZE_LEAD = 0.5          # real seconds frozen before the boundary
FREEZE_ACROSS = (20 * 60, 30 * 60, 40 * 60)
NO_BOOT = ("time_jump", "slip", "writer_silent")  # placed faults no device step follows
QUIET_AFTER = 6.0          # at least this many seconds without faults after each composite fault
END_QUIET = 25.0           # no fault ends this close to the end (long runs)


class Scenario:
    def __init__(self, seed, broadcast_hours, speed, disk_faults, parts=PARTS):
        self.seed = seed
        self.speed = speed
        self.parts = set(parts) - (set() if disk_faults else {"midnight_full", "slow_disk"})
        self.broadcast_hours = broadcast_hours
        self.real_seconds = broadcast_hours * 3600.0 / speed
        self.end_quiet = min(END_QUIET, max(RECOVERY_ROOM, self.real_seconds * 0.2))
        rng = random.Random(seed)
        self.faults = {}        # tuner id -> [(name, sim type, at, duration)]
        self.windows = {}       # tuner id -> [(name, start, end)] composite windows
        # The channel change: the settings move SOAKA2 to another channel, which
        # its record picks up when the device comes back from a vanish. Placed
        # first; the random faults keep clear of it.
        self.channel_change_at = self.real_seconds * 0.4
        self._add_fault("SOAKA2", "channel_change_vanish", [("vanish", 3.0)], self.channel_change_at + 2.0)
        self.time_jump_at = self._place_time_jump() if "time_jump" in self.parts else None
        self.midnight_at, self.midnight_fill_at = self._midnight() if "midnight_full" in self.parts else (None, None)
        self.silences = self._place_silences() if "shared_channel" in self.parts else []
        if "shared_channel" in self.parts and not self.silences:
            self.parts.discard("shared_channel")  # the run is too short for both silences
        if "slip" in self.parts:
            self._place_slips()
        # The folder appears once every USB tuner has failed to record into it
        # (the runner watches for that), and before the disk fills for midnight.
        self.folder_appears_at = None
        if "late_folder" in self.parts:
            self.folder_appears_at = min(LATE_FOLDER_LATEST, 0.9 * self.midnight_fill_at if self.midnight_fill_at
                                         else self.real_seconds * 0.6)
        # Placed before the random faults, which keep clear of it: a tuner
        # booting meanwhile would hold up the record passes by itself.
        self.freeze = self._place_freeze() if "slow_disk" in self.parts else None
        if self.freeze is None:
            self.parts.discard("slow_disk")
        # Every kind comes once before any comes again, shared out among the tuners.
        pending = [k for k, _ in FAULT_KINDS]
        rng.shuffle(pending)
        for serial, _model, _ch, _st in USB_TUNERS:
            self._schedule(rng, serial, [k for k, _ in FAULT_KINDS], pending, long_loss=serial == "SOAKM1")
        # The driver tuner never hears a broadcast time: between its faults it
        # has time for a whole watchdog cycle (four re-sends, re-initialisation).
        self._schedule(rng, DRIVER_ID, DRIVER_FAULT_KINDS, list(DRIVER_FAULT_KINDS), long_loss=False,
                       quiet=DRIVER_QUIET)
        self.disk_windows = self._disk_windows(rng) if disk_faults else []

    def _add_fault(self, tuner, name, parts, at):
        t = at
        for sim_type, duration in parts:
            self.faults.setdefault(tuner, []).append((name, sim_type, t, duration))
            t += duration
        self.windows.setdefault(tuner, []).append((name, at, t))
        return t

    def _schedule(self, rng, tuner, kinds, pending, long_loss, quiet=QUIET_AFTER):
        """Composite faults one after another with quiet time between. The
        `long_loss` tuner starts with a silence the watchdog must act on: one long
        enough for the re-initialisation when the run has room for it."""
        t = 5.0 + rng.uniform(0, 4)
        last = self.real_seconds - self.end_quiet
        first = None
        if long_loss:
            first = "long_signal_loss" if t + LONG_SIGNAL_LOSS + 60 < last else "signal_loss"
        while t < last:
            if first:
                name, parts = first, [("signal_loss", LONG_SIGNAL_LOSS if first == "long_signal_loss" else FIRST_SIGNAL_LOSS)]
            else:
                name = first or (pending.pop() if pending else rng.choice(kinds))
                parts = [(typ, rng.uniform(*span)) for typ, span in dict(FAULT_KINDS)[name]]
            length = sum(d for _typ, d in parts)
            clash = [b for _n, a, b in self._blocking(tuner) if a - 2.0 < t + length and t < b + 2.0]
            if clash or t + length > last:
                if name != first:
                    pending.append(name)
                if not clash:
                    break
                t = max(clash) + QUIET_AFTER
                continue
            first = None
            end = self._add_fault(tuner, name, parts, t)
            t = end + quiet + rng.uniform(0, QUIET_AFTER)

    def _blocking(self, tuner):
        """The windows a fault of `tuner` keeps clear of: its own, and for the
        writer of the shared channel the follower's silence too (the channel
        must be heard by one of them)."""
        windows = self.windows.get(tuner, [])
        if self.freeze:
            windows = windows + [("slow_disk", self.freeze[0] - RECOVERY_ROOM, self.freeze[1])]
        if tuner == USB_TUNERS[0][0]:
            windows = windows + self.windows.get(FOLLOWER[0], [])
        return windows

    def _place_time_jump(self):
        """The jump covers exactly one time packet of the tuner, a little after
        the middle of the run; the time packets go out at multiples of TIME_EVERY."""
        packet = int(self.real_seconds * 0.55 * self.speed * UNITS_PER_SECOND) // TIME_EVERY * TIME_EVERY
        unit = 1.0 / UNITS_PER_SECOND / self.speed
        at = (packet - 0.5) * unit
        self._add_fault(JUMP_TUNER, "time_jump", [("time_jump", unit)], at)
        return at

    def _place_silences(self):
        """[(tuner, start, end)]: SOAKA1, then the follower, silent one after
        the other, clear of the full disk at midnight; [] when they do not fit.
        In a run longer than RecDays, within its last half day of retention, so
        that the recordings checked are still there at the end."""
        kept = REC_DAYS * 86400.0 / self.speed
        start = max(self.real_seconds * 0.45, self.real_seconds - kept / 2)
        window = self.midnight_window()
        if window and start < window[1] + 2.0 and start + 2 * WRITER_SILENCE + 2.0 > window[0] - 2.0:
            start = window[1] + 2.0
        if start + 2 * WRITER_SILENCE + 2.0 > self.real_seconds - self.end_quiet:
            return []
        silences = []
        for tuner in (USB_TUNERS[0][0], FOLLOWER[0]):
            silences.append((tuner, start, self._add_fault(tuner, "writer_silent", [("signal_loss", WRITER_SILENCE)],
                                                           start)))
            start += WRITER_SILENCE + 2.0
        return silences

    def _place_slips(self):
        """Each slip is due before exactly one unit whose index is a multiple of
        ten (the simulated device slips bytes in before those only)."""
        unit = 1.0 / UNITS_PER_SECOND / self.speed
        at, first = [], min(self.real_seconds * 0.75, self.real_seconds - self.end_quiet - SLIPS)
        for k in range(SLIPS):
            index = int((first + k) / unit) // 10 * 10
            at.append((index - 0.5) * unit)
            self.faults.setdefault(SLIP_TUNER, []).append(("slip", "misaligned_units", at[-1], unit))
        self.windows.setdefault(SLIP_TUNER, []).append(("slip", at[0], at[-1] + unit))

    def _place_freeze(self):
        """(start, end) in real seconds of the first FREEZE_ACROSS that lies after
        the recording folder appeared, clear of the full disk at midnight (the
        harness fills it), and after every placed fault that makes a tuner
        boot again by the time it takes; None when the run has none."""
        earliest = max(12.0, (self.folder_appears_at or 0) + 5.0)
        busy = [(a, b + RECOVERY_ROOM) for items in self.windows.values() for name, a, b in items if name not in NO_BOOT]
        busy += [(a, b + 3.0) for a, b in [self.midnight_window() or (0.0, -3.0)]]
        for hour in range(int(self.broadcast_hours) + 1):
            for across in FREEZE_ACROSS:
                start = (hour * 3600 + across) / self.speed - FREEZE_LEAD
                end = start + FREEZE_SECONDS
                if end > self.real_seconds - self.end_quiet:
                    return None
                if start >= earliest and not any(a - 2.0 < end and start < b for a, b in busy):
                    return start, end
        return None

    def _midnight(self):
        """(real second of the first broadcast midnight, of the disk filling
        before it), or Nones when the run ends too soon after it."""
        midnight = datetime.datetime.combine(START.date() + datetime.timedelta(days=1), datetime.time())
        at = (midnight - START).total_seconds() / self.speed
        if at + MIDNIGHT_RESUME / self.speed + 5.0 > self.real_seconds:
            return None, None
        return at, at - max(MIDNIGHT_FILL_AHEAD / self.speed, MIDNIGHT_FILL_ROOM)

    def midnight_window(self):
        """Real seconds during which the full disk at midnight may cost packets."""
        if self.midnight_at is None:
            return None
        return self.midnight_fill_at, self.midnight_at + MIDNIGHT_RESUME / self.speed

    def _disk_windows(self, rng):
        windows, t = [], max(12.0, (self.folder_appears_at or 0) + 5.0) + rng.uniform(0, 5)
        keep_clear = [w for w in (self.midnight_window(), self.freeze) if w]
        while t < self.real_seconds - self.end_quiet:
            duration = rng.uniform(1.0, 3.0)
            clash = [b for a, b in keep_clear if t - 3.0 < b and a < t + duration + 3.0]
            if clash:
                t = max(clash) + 3.0 + rng.uniform(0, 5)
                continue
            windows.append((t, t + duration))
            t += duration + rng.uniform(20, 45)
        return windows

    # ---- files
    def write(self, work, ts_folder, config_dir):
        streams_dir = os.path.join(work, "streams")
        os.makedirs(streams_dir, exist_ok=True)
        stale = START + datetime.timedelta(minutes=10, seconds=5)
        stale_time = (stale.year, stale.month, stale.day, stale.hour, stale.minute, stale.second)
        stations = []
        for channel, station in [(ch, st) for _s, _m, ch, st in USB_TUNERS] + [CHANGED_CHANNEL]:
            path = os.path.join(streams_dir, "ch%d.ts" % channel)
            stale_at = STALE_POS if station == STALE_STATION else None
            with open(path, "wb") as f:
                f.write(station_stream(station, LOOP, TIME_EVERY, stale_at, stale_time))
            stations.append({"channel": channel, "stream": path, "signal": 8, "bitrate": BITRATE})
        devices = []
        if "failing_tuner" in self.parts:
            serial, model, _ch = FAILING_TUNER
            devices.append({"model": model, "serial": serial, "faults": [
                {"type": "garbled_reply", "at": 0, "duration": round(self.real_seconds + 3600)}]})
        for serial, model, _ch, _st in USB_TUNERS:
            devices.append({"model": model, "serial": serial,
                            "delivery_log": os.path.join(work, "delivered_%s.bin" % serial),
                            "faults": self._sim_faults(serial)})
        if "shared_channel" in self.parts:
            serial, model, _ch = FOLLOWER
            devices.append({"model": model, "serial": serial,
                            "delivery_log": os.path.join(work, "delivered_%s.bin" % serial),
                            "faults": self._sim_faults(serial)})
        devices.append({"model": "driver", "lock_polls": 2, "faults": self._sim_faults(DRIVER_ID)})
        sim = {"speed": self.speed, "start": START.strftime("%Y-%m-%d %H:%M:%S"),
               "stations": stations, "devices": devices}
        sim_path = os.path.join(work, "sim.json")
        with open(sim_path, "w") as f:
            json.dump(sim, f, indent=1)
        os.makedirs(config_dir, exist_ok=True)
        lines = ["[Config]", "TSFolder=" + ts_folder, "RecDays=%d" % REC_DAYS, "EnableWatchDog=1"]
        if "failing_tuner" in self.parts:
            lines += ["[Tuner%s]" % FAILING_TUNER[0], "Channel=%d" % FAILING_TUNER[2], "FriendlyName=" + FAILING_TUNER[0]]
        for serial, _m, channel, _st in USB_TUNERS:
            lines += ["[Tuner%s]" % serial, "Channel=%d" % channel, "FriendlyName=" + serial]
        if "shared_channel" in self.parts:
            lines += ["[Tuner%s]" % FOLLOWER[0], "Channel=%d" % FOLLOWER[2], "FriendlyName=" + FOLLOWER[0]]
        lines += ["[Tuner%s]" % DRIVER_ID, "Channel=%d" % DRIVER_CHANNEL]
        write_atomically(os.path.join(config_dir, "OneSeg_Config.ini"), "\n".join(lines) + "\n")
        return sim_path

    def _sim_faults(self, tuner):
        faults = []
        for _n, typ, at, d in self.faults.get(tuner, []):
            fault = {"type": typ, "at": round(at, 6), "duration": round(d, 6)}
            if typ == "time_jump":
                fault["offset"] = JUMP_OFFSET
            faults.append(fault)
        return faults

    def figures(self):
        counts = {}
        for items in self.windows.values():
            for name, _a, _b in items:
                counts[name] = counts.get(name, 0) + 1
        return counts


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def change_channel_setting(config_dir):
    path = os.path.join(config_dir, "OneSeg_Config.ini")
    with open(path) as f:
        text = f.read()
    old = "[TunerSOAKA2]\nChannel=%d" % USB_TUNERS[2][2]
    assert old in text, "settings file lost the tuner section"
    write_atomically(path, text.replace(old, "[TunerSOAKA2]\nChannel=%d" % CHANGED_CHANNEL[0]))


# ---- the archive of older recordings, laid out before the run
ARCHIVE_SUFFIXES = [".ts", ".idx", ".sub", ".eit", ".html"]


# Due at the first midnight's sweep and not before, however late the tuners
# first receive: a recording of the start day's first hour.
BIG_ARCHIVE = "261206000_Ch35.ts"


def seed_archive(ts_folder, big_bytes=0):
    """Day folders before the start. Returns {relative path: start hour} of the
    files the sweep judges, plus the entries it must never remove. The
    recording BIG_ARCHIVE gets `big_bytes`: the room retention makes when the
    disk is full at midnight."""
    judged, protected = {}, []

    def day_folder(day):
        name = day.strftime("%y%m%d")
        os.makedirs(os.path.join(ts_folder, name), exist_ok=True)
        return name

    def recording(day, hour, channel=27, minute_digit=0):
        folder = day_folder(day)
        base = "%s%02d%d_Ch%d" % (day.strftime("%y%m%d"), hour, minute_digit, channel)
        for suffix in ARCHIVE_SUFFIXES:
            rel = os.path.join(folder, base + suffix)
            with open(os.path.join(ts_folder, rel), "wb") as f:
                f.write(b"\x47" + b"\x00" * 187)
                if base + suffix == BIG_ARCHIVE and big_bytes:
                    f.flush()
                    os.posix_fallocate(f.fileno(), 188, big_bytes)  # real blocks: a sparse file would free nothing
            judged[rel] = datetime.datetime(day.year, day.month, day.day, hour)

    start_day = START.date()
    for back in range(1, 6):
        day = start_day - datetime.timedelta(days=back)
        for hour in range(0, 24, 3 if back > 1 else 1):
            recording(day, hour)
    for hour in range(0, START.hour):
        recording(start_day, hour, channel=35, minute_digit=hour % 6)
    # A thumbnail folder keeps its day folder; a foreign file too.
    d3 = day_folder(start_day - datetime.timedelta(days=3))
    os.makedirs(os.path.join(ts_folder, d3, "thumb_%s0_Ch27" % d3))
    protected.append(os.path.join(d3, "thumb_%s0_Ch27" % d3))
    d4 = day_folder(start_day - datetime.timedelta(days=4))
    for name in ["notes.txt", d4 + "25_Ch27.ts"]:  # no recording name, impossible hour
        with open(os.path.join(ts_folder, d4, name), "w") as f:
            f.write("keep\n")
        protected.append(os.path.join(d4, name))
    for name in ["abcdef", "2612011", "261301", "26120"]:  # not day folders
        os.makedirs(os.path.join(ts_folder, name))
        with open(os.path.join(ts_folder, name, "26010100_Ch27.ts"), "w") as f:
            f.write("keep\n")
        protected.append(os.path.join(name, "26010100_Ch27.ts"))
    return judged, protected
