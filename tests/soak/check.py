"""The soak's verdicts: packet accounting, supervisor recovery and watchdog,
retention, resources and event-loop stalls. Each check adds figures and,
when it fails, a failure line."""
import bisect
import collections
import datetime
import os
import re
import struct
import zlib

import scenario as sc
from streams import PACKET, packet_time, read_marker

UNIT_LOG = 8 + PACKET
MISFRAMED = "misframed after a corrupted unit or a slip"
SLIPPED = "the unit a slip of stray bytes landed before"
FOLLOWER_WAIT = "heard only by the follower in its writer's first %.0f s of silence" % sc.FOLLOW_AFTER
FOLLOWER_LATE = "heard only by the follower, which did not take the silent writer's channel over"
LOSS_FAULTS = ("UNEXPLAINED", MISFRAMED, FOLLOWER_LATE)  # reasons that are faults of the recorder
STALE_POS = sc.STALE_POS
EPOCH = datetime.datetime(2000, 1, 1)
START_S = (sc.START - EPOCH).total_seconds()
STATUS_TIME = re.compile(r"放送受信：(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)")
# Any log line of a tuner that shows its lost-packet count (failure or recovery).
LOST = re.compile(r"^(\S+): .*\(失われたパケット (\d+)\)")
WRITE_FAILED = re.compile(r"録画ファイル書き込み失敗 (\S+\.idx)\b")
# The recorder's own count of what it did not store, by cause (cumulative per tuner record).
DROPS = re.compile(r"^(\S+): 録画されなかったパケット 枠ずれ (\d+) 追従 (\d+) 読み込み失敗 (\d+) "
                   r"書き込み失敗 (\d+) 時刻受信前 (\d+)$")
DROP_CAUSES = ("framing", "follower", "failed read", "refused write", "before time")
QUEUE_PASS = 0.5  # seconds of units a refused flush may carry
FILE_NAME = re.compile(r"^(\d{6})(\d\d)(\d)_Ch(-?\d+)\.ts$")


class Report:
    def __init__(self):
        self.figures = []
        self.failures = []
        self.outran = 0        # units the simulated devices dropped: the run was too fast for the machine
        self.harness_lag = 0.0  # longest time the watcher itself did not look

    def figure(self, text):
        self.figures.append(text)

    def fail(self, text):
        self.failures.append(text)


def is_stale(station, pos):
    return station == sc.STALE_STATION and pos == STALE_POS


def nearest_seq(estimate, pos):
    d = (pos - estimate) % sc.LOOP
    if d > sc.LOOP // 2:
        d -= sc.LOOP
    return estimate + d


def next_delivered(prev, pos, delivered):
    """The first unit at loop position `pos` delivered after `prev`: a packet
    between time packets follows the one before it, however long the tuner
    was silent in between (a file stays open through a loss of signal)."""
    start = 0 if prev is None else prev + 1
    seq = start + (pos - start) % sc.LOOP
    for _ in range(64):
        if seq in delivered.crc:
            return seq
        seq += sc.LOOP
    return nearest_seq(start, pos)  # none later: an earlier one again, or none at all


# ---------------------------------------------------------------- delivery
class Delivered:
    def __init__(self):
        self.crc = {}            # seq -> crc of an intact unit
        self.order = []          # seqs in delivery order (corrupted units too)
        self.corrupt = 0
        self.corrupt_seqs = set()
        self.stale = 0
        self.inconsistent = 0
        self.single = set()      # seqs only one of two tuners on the channel delivered


def merge_deliveries(a, b):
    """What either of two tuners on one channel delivered. A unit either of
    them got corrupted may be lost (the one that wrote may have had it)."""
    d = Delivered()
    d.corrupt_seqs = a.corrupt_seqs | b.corrupt_seqs
    d.crc = {**b.crc, **a.crc}
    d.order = sorted(set(a.order) | set(b.order))
    d.single = set(a.order) ^ set(b.order)
    d.corrupt, d.stale, d.inconsistent = a.corrupt + b.corrupt, a.stale + b.stale, a.inconsistent + b.inconsistent
    return d


def load_delivery(path):
    d = Delivered()
    with open(path, "rb") as f:
        data = f.read()
    for at in range(0, len(data) - UNIT_LOG + 1, UNIT_LOG):
        seq = struct.unpack_from("<Q", data, at)[0]
        packet = data[at + 8:at + UNIT_LOG]
        if packet[0] != 0x47:
            d.corrupt += 1
            d.corrupt_seqs.add(seq)
            d.order.append(seq)  # keeps the stream continuous for the runs of missing units
            continue
        marker = read_marker(packet)
        if marker is None or marker[1] != seq % sc.LOOP:
            d.inconsistent += 1
            continue
        if is_stale(marker[0], marker[1]):
            d.stale += 1
            continue
        d.crc[seq] = zlib.crc32(packet)
        d.order.append(seq)
    return d


# ---------------------------------------------------------------- recordings
class Recorded:
    def __init__(self):
        self.count = collections.Counter()   # seq -> times recorded
        self.files = 0
        self.stale = 0
        self.foreign = 0
        self.altered = 0
        self.out_of_order = 0
        self.index_records = 0
        self.bad_index = 0
        self.bad_index_files = collections.Counter()  # "name (why)" -> bad records
        self.index_missing_shown = 0  # an index the recorder showed it could not open
        self.stale_only_files = set()
        self.misfiled = 0     # time packets in a file not named after their ten minutes
        self.jumped = 0       # time packets from the future (the time jump) recorded


def tuner_files(ts_folder, channels, skip=()):
    found = []
    for day in sorted(os.listdir(ts_folder)):
        folder = os.path.join(ts_folder, day)
        if len(day) != 6 or not day.isdigit() or not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            m = FILE_NAME.match(name)
            if m and int(m.group(4)) in channels and os.path.join(day, name) not in skip:
                found.append((os.path.join(folder, name), int(m.group(4))))
    return found


def file_slot(path):
    """Seconds since 2000 of the ten minutes a recording's name stands for."""
    m = FILE_NAME.match(os.path.basename(path))
    start = datetime.datetime.strptime(m.group(1) + m.group(2), "%y%m%d%H") - EPOCH
    return start.total_seconds() + int(m.group(3)) * 600


def time_seq(packet):
    """The unit a time packet stands for (a time from the jump taken back)."""
    t = packet_time(packet)
    if t - START_S > sc.JUMP_OFFSET / 2:
        t -= sc.JUMP_OFFSET
    return int((t - START_S) * sc.UNITS_PER_SECOND + sc.UNITS_PER_SECOND / 2)


def leading_floor(data, station, slot):
    """A unit before every packet a file holds ahead of its first time packet
    (a tuner taking a silent writer's channel over opens the file on an
    ordinary packet): half a loop before that time packet, or before the
    file's ten minutes when it has none. Counting from the run's first loop
    instead would take them for units of a loop earlier."""
    for at in range(0, len(data) - PACKET + 1, PACKET):
        packet = data[at:at + PACKET]
        marker = read_marker(packet)
        if marker is not None and marker[0] == station and marker[2] and not is_stale(station, marker[1]):
            return max(0, time_seq(packet) - sc.LOOP // 2)
    return max(0, int((slot - START_S) * sc.UNITS_PER_SECOND) - sc.LOOP // 2)


def read_recording(path, station, delivered, rec, idx_shown=()):
    with open(path, "rb") as f:
        data = f.read()
    slot = file_slot(path)
    prev = None
    floor = leading_floor(data, station, slot)
    only_stale = True
    time_offsets = {}
    for at in range(0, len(data) - PACKET + 1, PACKET):
        packet = data[at:at + PACKET]
        marker = read_marker(packet)
        if marker is None or marker[0] != station:
            rec.foreign += 1
            continue
        _st, pos, is_time = marker
        if is_stale(station, pos):
            rec.stale += 1
            time_offsets[at] = packet[8:13]
            continue
        only_stale = False
        if is_time:
            t = packet_time(packet)
            if not slot <= t < slot + 600:
                rec.misfiled += 1
            if t - START_S > sc.JUMP_OFFSET / 2:  # sent during the time jump
                rec.jumped += 1
            time_offsets[at] = packet[8:13]
            seq = nearest_seq(time_seq(packet), pos)
        else:
            seq = next_delivered(floor - 1 if prev is None else prev, pos, delivered)
        if delivered.crc.get(seq) != zlib.crc32(packet):
            rec.altered += 1
            continue
        if prev is not None and seq <= prev:
            rec.out_of_order += 1
        rec.count[seq] += 1
        prev = seq
    if len(data) % PACKET:
        rec.foreign += 1
    rec.files += 1
    if only_stale and data:
        rec.stale_only_files.add(path)
    check_index(path[:-3] + ".idx", time_offsets, rec, idx_shown)


def check_index(path, time_offsets, rec, idx_shown=()):
    """A missing index is a fault unless the recorder showed that it could
    not open it (a .ts that opened is recorded into without its index)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        if path in idx_shown:
            rec.index_missing_shown += 1
        else:
            bad_index(rec, path, "missing")
        return
    for at in range(0, len(data) - 8, 9):
        rec.index_records += 1
        offset = struct.unpack_from("<I", data, at + 5)[0]
        if time_offsets.get(offset) != data[at:at + 5]:
            bad_index(rec, path, "record %d points at offset %d" % (at // 9, offset))
    if len(data) % 9:
        bad_index(rec, path, "%d bytes" % len(data))


def bad_index(rec, path, why):
    rec.bad_index += 1
    rec.bad_index_files["%s (%s)" % (os.path.basename(path), why)] += 1


# ---------------------------------------------------------------- accounting
def sent_time(seq, speed):
    return seq / sc.UNITS_PER_SECOND / speed


BEFORE_TIME = "before the first time packet after a (re)start"


def classify_missing(tuner, delivered, rec, scen, disk_windows, cutoff_s):
    """Splits the delivered but unrecorded units into runs (in delivery order)
    and names the reason of each run; returns {reason: units}, examples."""
    faults = scen.faults.get(tuner, [])
    reasons = collections.Counter()
    examples = []
    order = delivered.order
    corrupt = delivered.corrupt_seqs
    i = 0
    while i < len(order):
        if rec.count[order[i]] or order[i] in corrupt:
            i += 1
            continue
        j = i + 1  # a run ends where the stream restarted
        while j < len(order) and not rec.count[order[j]] and order[j] == order[j - 1] + 1:
            j += 1
        # A run that starts with the stream's (re)start holds, up to the first
        # time packet, units the recorder keeps no file open for: whatever
        # happens to the rest of the run, those are lost by design.
        head = time_packet_head(order, i, j)
        if head > i:
            reasons[BEFORE_TIME] += sum(1 for seq in order[i:head] if seq not in corrupt)
            i = head
        run = [seq for seq in order[i:j] if seq not in corrupt]
        reason = explain_run(order, i, j, run, faults, disk_windows, scen.speed, cutoff_s, delivered.single,
                             scen.silences)
        reasons[reason] += len(run)
        if reason in LOSS_FAULTS and len(examples) < 5:
            examples.append("seq %d..%d (%d units, sent at %.1f s, %s)" %
                            (run[0], run[-1], len(run), sent_time(run[0], scen.speed), reason))
        i = j
    return reasons, examples


def time_packet_head(order, i, j):
    """Index of the first time packet of the run order[i:j] when the run
    begins where the stream (re)started and holds a time packet; else i."""
    if i > 0 and order[i - 1] == order[i] - 1:
        return i
    for k in range(i, j):
        if order[k] % sc.LOOP % sc.TIME_EVERY == 0:
            return k
    return i


def explain_run(order, i, j, run, faults, disk_windows, speed, cutoff_s, single=frozenset(), silences=()):
    first, last = sent_time(run[0], speed), sent_time(run[-1], speed)
    if START_S + run[-1] / sc.UNITS_PER_SECOND < cutoff_s + 10:
        return "removed by retention"
    # A stream that (re)starts shortly before a disk window still loses its
    # units up to the first time packet by design, not to the disk.
    restarted = i == 0 or order[i - 1] != run[0] - 1
    has_time = any(seq % sc.LOOP % sc.TIME_EVERY == 0 for seq in run)
    if restarted and not has_time and len(run) <= sc.TIME_EVERY:
        return BEFORE_TIME
    tail = 1.5 + sc.TIME_EVERY / sc.UNITS_PER_SECOND / speed
    only_one_heard = all(seq in single for seq in run)
    # While the follower still waits out its writer's silence it stores
    # nothing, so a full disk meanwhile refuses none of those units.
    waiting = only_one_heard and any(a - 0.5 <= first <= a + sc.FOLLOW_AFTER + sc.FOLLOW_ROOM for _t, a, _b in silences)
    for a, b in [] if waiting else disk_windows:
        if first >= a - 1.0 and last <= b + tail:
            return "disk refused writes"
    for _name, typ, at, duration in faults:
        if typ == "read_fail" and first >= at - 0.5 and last <= at + duration + 0.5 and len(run) <= 2:
            return "carried unit of a failed read"
    if only_one_heard:
        # One of two tuners on the channel was silent: the other takes over
        # after a while; what a full disk refused meanwhile is no wait of its.
        wait = (sc.FOLLOW_AFTER + sc.FOLLOW_ROOM) * speed * sc.UNITS_PER_SECOND
        waited = sum(1 for seq in run if not refused_at(disk_windows, sent_time(seq, speed), tail))
        return FOLLOWER_WAIT if waited <= wait else FOLLOWER_LATE
    for _name, typ, at, duration in faults:
        if typ == "misaligned_units" and first >= at - 0.5 and last <= at + duration + 0.5:
            return SLIPPED if len(run) <= sc.SLIP_LOSS else MISFRAMED
    for _name, typ, at, duration in faults:
        # The sync search of a read that starts with a unit without sync byte
        # can settle on a 0x47 inside it: intact units after it are lost.
        if typ == "corrupt_units" and first >= at - 0.5 and last <= at + duration + 0.5:
            return MISFRAMED
    return "UNEXPLAINED"


def device_dropped(delivery_log):
    """Units the simulated device's queue had no room for (0 when it did not say)."""
    try:
        with open(delivery_log + ".dropped") as f:
            return int(f.read().strip() or 0)
    except (FileNotFoundError, ValueError):
        return 0


def reported_drops(lines):
    """{tuner: Counter(cause: packets)} from the recorder's drop lines; a
    device that comes back gets a new record, whose counts add up."""
    total, current = collections.defaultdict(collections.Counter), {}
    for _t, text in lines:
        if text.startswith("チューナー検出："):
            tuner = text[len("チューナー検出："):].split(" ")[0]
            total[tuner].update(current.pop(tuner, {}))
            continue
        m = DROPS.match(text)
        if m:
            current[m.group(1)] = collections.Counter(dict(zip(DROP_CAUSES, (int(g) for g in m.groups()[1:]))))
    for tuner, counts in current.items():
        total[tuner].update(counts)
    return total


# Causes the recorder counts that are no fault of its own, and the checker's name for each.
BY_DESIGN = [("follower", "heard by a second tuner while another wrote the channel"),
             ("failed read", "carried unit of a failed read"),
             ("before time", BEFORE_TIME)]


def name_by_recorder(reasons, drops):
    """Gives the units the checker could not explain the causes the recorder
    counted and the checker has not already attributed."""
    left = reasons.pop("UNEXPLAINED", 0)
    for cause, name in BY_DESIGN:
        take = min(left, max(0, drops.get(cause, 0) - reasons.get(name, 0)))
        if take:
            reasons[name + " (the recorder's count)"] += take
            left -= take
    if left:
        reasons["UNEXPLAINED"] = left


def reported_lost(lines):
    """Packets the recorder showed as lost, per tuner. Each record counts from
    0, and a device that comes back gets a new record: the counts of all the
    records of a tuner add up."""
    total, current = collections.Counter(), collections.Counter()
    for _t, text in lines:
        if text.startswith("チューナー検出："):
            tuner = text[len("チューナー検出："):].split(" ")[0]
            total[tuner] += current.pop(tuner, 0)
            continue
        m = LOST.match(text)
        if m:
            current[m.group(1)] = max(current[m.group(1)], int(m.group(2)))
    total.update(current)
    return dict(total)


def queue_full_windows(lines):
    """Where the recorder showed refused writes: a full write queue (the disk
    or the machine fell behind) refuses them as a full disk does. Each line
    covers the pass whose flush it ends; the lines of one stretch merge."""
    merged = []
    for t in sorted(t for t, text in lines if LOST.match(text)):
        if merged and t - QUEUE_PASS <= merged[-1][1]:
            merged[-1][1] = t + 0.1
        else:
            merged.append([t - QUEUE_PASS, t + 0.1])
    return [tuple(w) for w in merged]


def refused_windows(scen, run):
    """Real-time windows in which the recorder could not store: the injected
    full-disk windows, the start before the recording folder appeared, the
    disk filled before midnight until retention has made room, and where the
    recorder showed writes refused besides."""
    windows = list(run.disk_applied) + queue_full_windows(run.lines)
    if getattr(run, "freeze_applied", None):
        windows.append(tuple(run.freeze_applied))
    if "late_folder" in scen.parts:
        windows.append((0.0, run.folder_appeared_at if run.folder_appeared_at is not None else float("inf")))
    if run.midnight_filled_at is not None:
        windows.append((run.midnight_filled_at, scen.midnight_window()[1]))
    # Units sent before a window but read only after it began (the event loop
    # was busy, e.g. booting a tuner) meet the full disk too.
    return [(a - read_lag(run, a), b) for a, b in windows]


def read_lag(run, at):
    """The longest gap between record passes that ended soon after `at`."""
    return max([g for t, g in getattr(run, "growth_gaps", []) if at <= t <= at + STALL_BOUND] + [0.0])


def check_packets(report, scen, run, ts_folder, work, cutoff_s, archive=()):
    """Yields (tuner, Recorded) per USB tuner; `archive` names the files laid
    out before the run, which are no tuner's."""
    lost_shown = reported_lost(run.lines)
    drops_shown = reported_drops(run.lines)
    idx_shown = {m.group(1) for _t, text in run.lines for m in [WRITE_FAILED.search(text)] if m}
    for serial, _model, channel, station in sc.USB_TUNERS:
        channels = {channel: station}
        if serial == "SOAKA2":
            channels[sc.CHANGED_CHANNEL[0]] = sc.CHANGED_CHANNEL[1]
        delivered = load_delivery(os.path.join(work, "delivered_%s.bin" % serial))
        drops = drops_shown.get(serial, collections.Counter())
        shown = lost_shown.get(serial, 0)
        shared = serial == sc.USB_TUNERS[0][0] and "shared_channel" in scen.parts
        if shared:
            follower = sc.FOLLOWER[0]
            delivered = merge_deliveries(delivered, load_delivery(os.path.join(work, "delivered_%s.bin" % follower)))
            drops = drops + drops_shown.get(follower, collections.Counter())
            shown += lost_shown.get(follower, 0)
        rec = Recorded()
        files = tuner_files(ts_folder, channels, archive)
        for path, ch in files:
            read_recording(path, channels[ch], delivered, rec, idx_shown)
        dups = sum(n - 1 for n in rec.count.values() if n > 1)
        refused = refused_windows(scen, run)
        reasons, examples = classify_missing(serial, delivered, rec, scen, refused, cutoff_s)
        if shared:
            check_follower(report, scen, delivered, rec, refused)
        outran = device_dropped(os.path.join(work, "delivered_%s.bin" % serial))
        if outran:
            report.outran += outran
            report.figure("%s: the simulated device dropped %d units its reader did not fetch in time (this machine "
                          "fell behind speed %.0f; never delivered, so not judged)" % (serial, outran, scen.speed))
        name_by_recorder(reasons, drops)
        recorded = len(rec.count)
        report.figure("%s: delivered %d intact units (+%d corrupted, dropped by design), recorded %d once "
                      "in %d files; duplicates %d, out of order %d, altered %d, foreign %d; "
                      "clock-step packets delivered %d, recorded %d; time packets from two years ahead recorded %d; "
                      "index records %d (%d bad)" %
                      (serial, len(delivered.crc), delivered.corrupt, recorded, rec.files, dups,
                       rec.out_of_order, rec.altered, rec.foreign, delivered.stale, rec.stale, rec.jumped,
                       rec.index_records, rec.bad_index))
        for reason, n in sorted(reasons.items()):
            report.figure("%s:   not recorded, %s: %d" % (serial, reason, n))
        report.figure("%s: the recorder's count of packets not stored: %s; indexes it showed it could not open %d" %
                      (serial, ", ".join("%s %d" % (c, drops.get(c, 0)) for c in DROP_CAUSES), rec.index_missing_shown))
        measured = reasons.get("disk refused writes", 0)
        report.figure("%s: lost while writes were refused: %d measured, %d shown by the recorder" %
                      (serial, measured, shown))
        if delivered.inconsistent:
            report.fail("%s: %d delivered units do not carry their own sequence" % (serial, delivered.inconsistent))
        for what, n in [("duplicated", dups), ("out of order", rec.out_of_order), ("altered or unknown", rec.altered),
                        ("foreign", rec.foreign),
                        ("in a file not named after their time", rec.misfiled)]:
            if n:
                report.fail("%s: %d recorded packets %s" % (serial, n, what))
        if rec.bad_index:
            report.fail("%s: %d recorded packets badly indexed: %s" %
                        (serial, rec.bad_index, ", ".join(sorted(rec.bad_index_files)[:5])))
        if rec.stale > delivered.stale:
            report.fail("%s: more clock-step packets recorded than delivered" % serial)
        lost = sum(reasons.get(r, 0) for r in LOSS_FAULTS)
        if lost:
            report.fail("%s: %d delivered packets missing from the recordings: %s" % (serial, lost, "; ".join(examples)))
        if shown < measured:
            report.fail("%s: %d packets lost while writes were refused, but the recorder showed only %d" %
                        (serial, measured, shown))
        if serial == "SOAKA2" and not any(ch == sc.CHANGED_CHANNEL[0] for _p, ch in files):
            report.fail("SOAKA2: no recording on channel %d after the settings changed" % sc.CHANGED_CHANNEL[0])
        # Its files are named a few minutes after the start: retention removes them after a day.
        if serial == "SOAKA1" and rec.stale == 0 and delivered.stale > 0 and scen.broadcast_hours <= 25:
            report.fail("SOAKA1: the stepped-back broadcast clock never reached a recording")
        yield serial, rec


def check_follower(report, scen, delivered, rec, refused):
    """Each writer silence: of the units only the other tuner heard, those
    not recorded (apart from what a full disk refused) are the follower's
    wait, at most FOLLOW_AFTER seconds and a busy machine's room; and the
    follower must have carried the channel at least once."""
    per_second = scen.speed * sc.UNITS_PER_SECOND
    carried = 0
    for tuner, a, b in scen.silences:
        heard = [seq for seq in delivered.single if a * per_second <= seq <= b * per_second]
        kept = sum(1 for seq in heard if rec.count[seq])
        waited = sum(1 for seq in heard if not rec.count[seq] and not refused_at(refused, sent_time(seq, scen.speed)))
        carried += kept
        report.figure("shared channel: %s silent %.1f..%.1f s: %d units heard only by the other tuner, %d recorded, "
                      "%.1f s of them lost before it took over" % (tuner, a, b, len(heard), kept, waited / per_second))
        if waited > (sc.FOLLOW_AFTER + sc.FOLLOW_ROOM) * per_second:
            report.fail("shared channel: %s silent at %.1f s: %s (%d units)" % (tuner, a, FOLLOWER_LATE, waited))
    if not carried:
        report.fail("shared channel: the follower never carried the channel while its writer was silent")


def refused_at(windows, t, tail=1.5):
    return any(a - 1.0 <= t <= b + tail for a, b in windows)


# ---------------------------------------------------------------- supervisor
def status_events(lines, tuners=None):
    tuners = tuners or ALL_TUNERS
    events = collections.defaultdict(list)
    for t, text in lines:
        for prefix in ("チューナー検出：", "チューナー取り外し："):
            if text.startswith(prefix):
                events[text[len(prefix):].split(" ")[0]].append((t, prefix[:-1]))
                break
        else:
            tuner, sep, status = text.partition("：")
            if sep and tuner in tuners:
                events[tuner].append((t, status))
    return events


ALL_TUNERS = [s for s, _m, _c, _st in sc.USB_TUNERS] + [sc.DRIVER_ID]
RECOVERY_BOUND = 12.0       # seconds back to receiving after a fault
RECOVERY_BOUND_BUSY = 30.0  # ... while other tuners recover too
BEHIND_FAILING = 15.0       # ... more when every other step goes to a tuner whose boot always fails
# Seconds a firing may come after the time-out: a tick late on a busy machine.
# Other tuners' steps wait on their devices off the ticks' thread, so a tuner
# failing every boot does not hold a firing back.
SERVICE_DELAY = 5


def streaming_evidence(status):
    return status.startswith("放送受信") or status.startswith("Error:録画ファイル")


def check_supervisor(report, scen, run):
    events = status_events(run.lines)
    recoveries = collections.defaultdict(list)
    for tuner in ALL_TUNERS:
        evs = events.get(tuner, [])
        ok = (lambda s: s == "初期化完了") if tuner == sc.DRIVER_ID else streaming_evidence
        for name, a, b in scen.windows.get(tuner, []):
            after = [t for t, s in evs if t >= b and ok(s)]
            if not after:
                report.fail("%s: never back after %s (%.1f..%.1f s)" % (tuner, name, a, b))
                continue
            recoveries[name].append(after[0] - b)
            # A tick serves one tuner: others being opened or booted come first.
            busy = any(a2 - 5.0 < b + RECOVERY_BOUND and b - 5.0 < b2
                       for other, windows in scen.windows.items() if other != tuner for _n, a2, b2 in windows)
            bound = RECOVERY_BOUND_BUSY if busy else RECOVERY_BOUND
            if "failing_tuner" in scen.parts:
                bound += BEHIND_FAILING
            if after[0] - b > bound:
                report.fail("%s: back only %.1f s after %s ended (bound %.0f s)" % (tuner, after[0] - b, name, bound))
        if tuner != sc.DRIVER_ID:
            check_usb_watchdog(report, scen, tuner, evs)
        else:
            check_driver_watchdog(report, tuner, evs, run)
        if evs and not ok(evs[-1][1]) and not (tuner == sc.DRIVER_ID and evs[-1][1] == "コマンド再送信"):
            report.fail("%s: ends the run with status %s" % (tuner, evs[-1][1]))
    for name in sorted(recoveries):
        values = recoveries[name]
        report.figure("recovery after %-22s %3d times, mean %.1f s, max %.1f s" %
                      (name, len(values), sum(values) / len(values), max(values)))


def max_firings(length):
    """Most watchdog firings a silence of `length` seconds allows (more than 15
    whole seconds before the first, and as long again between firings)."""
    return 0 if length < 16 else 1 + int((length - 16) // 16)


def watch_start(evs, a, b):
    """Where the watchdog starts counting the silence of a signal loss
    [a, b]: at a for a tuner receiving then (recording or failing to write),
    at its boot for one booting during the loss; None when it has no
    watchdog running."""
    before = [s for t, s in evs if t <= a]
    if before and streaming_evidence(before[-1]):
        return a
    return next((t for t, s in evs if s == "初期化完了" and a < t < b), None)


def check_usb_watchdog(report, scen, tuner, evs):
    """Firings (shown as a re-send, or as the re-initialisation of the fifth
    since the last boot) happen only in silences, the first one 16 s and more
    into it; the fifth re-initialises, which a long silence makes sure of; a
    time reception does not reset the count, so the fifth may come in a later
    silence."""
    losses = [(a, a + d) for _n, typ, a, d in scen.faults.get(tuner, []) if typ == "signal_loss"]
    firings = [(t, s) for t, s in evs if s in ("コマンド再送信", "再初期化")]
    boots = [t for t, s in evs if s == "初期化完了"]
    firsts = []
    for t, s in firings:
        if not any(a + 14.5 <= t <= b + 3.0 for a, b in losses):
            report.fail("%s: watchdog %s at %.1f s outside any silence of more than 15 s" % (tuner, s, t))
    for a, b in losses:
        inside = [t for t, _s in firings if a + 14.5 <= t <= b + 3.0]
        start = watch_start(evs, a, b)
        if start is None:
            continue
        if b - start > 19 and not inside:
            report.fail("%s: the watchdog never fired during a %.0f s signal loss at %.1f s" % (tuner, b - a, a))
        if inside:
            firsts.append(inside[0] - start)
        if inside and inside[0] > start + 15 + SERVICE_DELAY:
            report.fail("%s: first firing %.1f s into a silence (expected 16..%d s)" %
                        (tuner, inside[0] - start, 15 + SERVICE_DELAY))
        if b - a >= sc.LONG_SIGNAL_LOSS:
            next_boot = min([t for t in boots if t > a] + [float("inf")])
            reinits = [t for t, s in firings if s == "再初期化" and a <= t <= next_boot]
            if len(reinits) != 1:
                report.fail("%s: %d re-initialisations between a %.0f s silence at %.1f s and the next boot" %
                            (tuner, len(reinits), b - a, a))
    for t, s in firings:
        if s != "再初期化":
            continue
        last_boot = max([b for b in boots if b < t] + [0.0])
        possible = sum(max_firings(min(b, t + 1.0) - max(a, last_boot)) for a, b in losses if b > last_boot and a < t)
        if possible < 5:
            report.fail("%s: re-initialisation at %.1f s after at most %d firings since the boot" % (tuner, t, possible))
    report.figure("%s: signal losses %d, watchdog firings shown %d (first %s s into the loss), "
                  "re-initialisations %d" % (tuner, len(losses), len(firings),
                                             "/".join("%.1f" % f for f in firsts) or "-",
                                             sum(1 for _t, s in firings if s == "再初期化")))


def check_driver_watchdog(report, tuner, evs, run):
    """The driver tuner never hears a broadcast time: more than 15 s after its
    boot the watchdog re-sends (four times, the status shows the first), the
    fifth firing re-initialises it, and then it stays idle until the device
    comes back as a new record."""
    cycles = 0
    boot = None
    state = "idle"
    end = run.lines[-1][0] if run.lines else 0
    for t, s in evs:
        if s == "チューナー検出":
            state, boot = "new", None
        elif s == "初期化完了":
            if state in ("new", "booting"):
                boot, state = t, "armed"
            elif state == "reinit":
                state = "idle_after_reinit"
        elif s == "コマンド再送信":
            if state != "armed" or boot is None or not 14.5 <= t - boot <= 22:
                report.fail("%s: re-send at %.1f s in state %s (%.1f s after boot)" %
                            (tuner, t, state, t - boot if boot else -1))
            state, first = "resending", t
        elif s == "再初期化":
            if state != "resending" or not 60 <= t - first <= 75:
                report.fail("%s: re-initialisation at %.1f s in state %s" % (tuner, t, state))
            else:
                cycles += 1
            state = "reinit"
    if state == "armed" and boot is not None and end - boot > 25:
        report.fail("%s: no watchdog re-send in the %.0f s after its boot" % (tuner, end - boot))
    report.figure("%s: %d complete watchdog cycles (boot, re-send after >15 s, re-initialisation after "
                  "four more firings, then idle)" % (tuner, cycles))


# ---------------------------------------------------------------- retention
def last_sweep(lines, speed):
    """(time of the last sweep in seconds since 2000, whether that time is
    certain to the second). A time far ahead of the broadcast clock (the time
    jump) must never have driven a sweep."""
    times = []
    for t, text in lines:
        m = STATUS_TIME.search(text)
        if m:
            y, mo, d, h, mi, s = (int(g) for g in m.groups())
            seconds = (datetime.datetime(2000 + y, mo, d, h, mi, s) - EPOCH).total_seconds()
            if seconds <= START_S + t * speed + sc.JUMP_OFFSET / 2:
                times.append(seconds)
    if not times:
        return None, False
    hour = max(times) // 3600
    first = min(t for t in times if t // 3600 == hour)
    return first, first % 3600 == 0


def check_retention(report, ts_folder, judged, protected, lines, recs, speed):
    sweep, certain = last_sweep(lines, speed)
    if sweep is None:
        report.fail("retention: no broadcast time was ever shown")
        return
    day_s = 86400
    today = sweep // day_s
    kept_folders, removed_files, kept_files = set(), 0, 0

    def eligible(folder):
        try:
            d = datetime.datetime(2000 + int(folder[0:2]), int(folder[2:4]), int(folder[4:6]))
        except ValueError:
            return False  # no date: not a day folder
        return today - (d - EPOCH).total_seconds() // day_s >= sc.REC_DAYS

    for rel, start in judged.items():
        folder = os.path.dirname(rel)
        age = sweep - (start - EPOCH).total_seconds()
        exists = os.path.exists(os.path.join(ts_folder, rel))
        should_go = eligible(folder) and age > sc.REC_DAYS * day_s
        boundary = not certain and age == sc.REC_DAYS * day_s + (sweep % 3600)
        if exists:
            kept_folders.add(folder)
            kept_files += 1
        else:
            removed_files += 1
        if exists == should_go and not boundary:
            report.fail("retention: %s %s (start %s, last sweep %s)" %
                        (rel, "kept" if exists else "removed", start, EPOCH + datetime.timedelta(seconds=sweep)))
    for rel in protected:
        if not os.path.exists(os.path.join(ts_folder, rel)):
            report.fail("retention: removed %s, which is no recording" % rel)
        kept_folders.add(rel.split(os.sep)[0])
    stale_only = set().union(*(r.stale_only_files for r in recs)) if recs else set()
    run_old = 0
    for folder in sorted(os.listdir(ts_folder)):
        path = os.path.join(ts_folder, folder)
        if len(folder) != 6 or not folder.isdigit() or not os.path.isdir(path) or not eligible(folder):
            continue
        for name in os.listdir(path):
            m = FILE_NAME.match(name) or re.match(r"^(\d{6})(\d\d)(\d)_Ch(-?\d+)\.idx$", name)
            full = os.path.join(path, name)
            if not m or os.path.join(folder, name) in judged:
                continue
            start = datetime.datetime.strptime(m.group(1) + m.group(2), "%y%m%d%H")
            if sweep - (start - EPOCH).total_seconds() > sc.REC_DAYS * day_s:
                if full in stale_only or full[:-4] + ".ts" in stale_only:
                    continue  # re-created by the stepped-back clock after the sweep
                run_old += 1
                report.fail("retention: recording %s older than %d day(s) left behind" % (full, sc.REC_DAYS))
    for folder in {os.path.dirname(rel) for rel in judged}:
        present = os.path.isdir(os.path.join(ts_folder, folder))
        if folder not in kept_folders and present and eligible(folder) and not os.listdir(os.path.join(ts_folder, folder)):
            report.fail("retention: empty day folder %s left behind" % folder)
        if folder in kept_folders and not present:
            report.fail("retention: day folder %s removed though it holds files to keep" % folder)
    report.figure("retention (RecDays %d, last sweep %s): archive files removed %d, kept %d; day folders "
                  "left %s" % (sc.REC_DAYS, EPOCH + datetime.timedelta(seconds=sweep), removed_files, kept_files,
                               " ".join(sorted(f for f in os.listdir(ts_folder)
                                               if os.path.isdir(os.path.join(ts_folder, f))))))


def retention_cutoff(lines, speed):
    """Start of the earliest broadcast hour whose recordings the last sweep keeps."""
    sweep, _certain = last_sweep(lines, speed)
    if sweep is None:
        return 0
    return -(-(sweep - sc.REC_DAYS * 86400) // 3600) * 3600


# ---------------------------------------------------------------- resources
# Open descriptors: the later half may exceed the earlier by this many, and by
# a closed pair per tuner whose writes still wait in the recorder's write
# queue (it closes them once written; a busy disk makes that later).
FD_GROWTH = 3 + 2 * len(sc.USB_TUNERS)
THREAD_GROWTH = 0
# Resident memory, later third over earlier third: room for the write queue
# (16 MiB) to fill once, as it may when the disk or the machine falls behind.
RSS_GROWTH_KB = 16384 + 16384
# One probe tick may release every tuner (3 x 500 ms, driver 510 ms) and then
# boot and tune one (some 180 register writes of 7 ms, up to ten gain-loop
# rounds of register reads of 60 ms): about 5 s of device waits, 6 s with slack.
STALL_BOUND = 6.0      # seconds without a record pass


def check_resources(report, run, warmup):
    samples = [s for s in run.samples if s[0] >= warmup]
    if len(samples) < 6:
        report.fail("resources: only %d samples after warm-up" % len(samples))
        return
    half, third = len(samples) // 2, len(samples) // 3
    fd_a, fd_b = max(s[1] for s in samples[:half]), max(s[1] for s in samples[half:])
    th_a, th_b = max(s[2] for s in samples[:half]), max(s[2] for s in samples[half:])
    rss_a, rss_b = max(s[3] for s in samples[:third]), max(s[3] for s in samples[-third:])
    report.figure("resources over %d samples: fds %d -> %d (bound +%d), threads %d -> %d (bound +%d), "
                  "RSS %d -> %d kB (bound +%d kB)" % (len(samples), fd_a, fd_b, FD_GROWTH, th_a, th_b,
                                                       THREAD_GROWTH, rss_a, rss_b, RSS_GROWTH_KB))
    if fd_b > fd_a + FD_GROWTH:
        report.fail("resources: open descriptors grew from %d to %d" % (fd_a, fd_b))
    if th_b > th_a + THREAD_GROWTH:
        report.fail("resources: threads grew from %d to %d" % (th_a, th_b))
    if rss_b > rss_a + RSS_GROWTH_KB:
        report.fail("resources: resident memory grew from %d to %d kB" % (rss_a, rss_b))


def flowing_tuners(scen, events, start, end):
    """USB tuners that were receiving all through [start, end]: shown receiving
    just before, and no fault of theirs near the interval. `events` are a
    tuner's status events in time order."""
    flowing = []
    for serial, _m, _c, _st in sc.USB_TUNERS:
        evs = events.get(serial, [])
        # Bisection: a week's run has tens of thousands of gaps and events.
        last = bisect.bisect_right(evs, (start, "\uffff")) - 1
        if last < 0 or not evs[last][1].startswith("放送受信"):
            continue
        if any(a - 1.0 < end and start < b + 1.0 for _n, a, b in scen.windows.get(serial, [])):
            continue
        flowing.append(serial)
    return flowing


# Seconds a record pass may wait while the recording disk is frozen: the disk
# must hold up no tuner, however long it is held.
SLOW_DISK_GAP = 1.0


def judged_gaps(scen, run, events, start, end):
    """(end, length) of the record-pass gaps overlapping [start, end] while
    some tuner was receiving all through them, and the watcher did not lag."""
    lags = getattr(run, "harness_lags", [])
    return [(t, g) for t, g in run.growth_gaps if t - g < end and start < t and flowing_tuners(scen, events, t - g, t)
            and not any(t - g < lt and lt - lg < t for lt, lg in lags)]


def check_slow_disk(report, scen, run):
    """While the disk was frozen across a ten-minute boundary, every tuner
    had to be read on; what the recorder lost meanwhile is judged with the
    refused writes (check_packets)."""
    if "slow_disk" not in scen.parts:
        return
    if run.freeze_error or not run.freeze_applied:
        report.fail("slow disk: the disk was not frozen: %s" % (run.freeze_error or "the run ended first"))
        return
    start, end = run.freeze_applied
    gaps = judged_gaps(scen, run, status_events(run.lines), start, end)
    if not gaps:
        report.fail("slow disk: no record pass observed while the disk was frozen (%.1f..%.1f s)" % (start, end))
        return
    longest = max(gaps, key=lambda x: x[1])
    broadcast = [sc.START + datetime.timedelta(seconds=x * scen.speed) for x in (start, end)]
    report.figure("slow disk: frozen %.1f..%.1f s (broadcast %s..%s): %d record passes, longest gap %.2f s "
                  "(bound %.1f s)" % (start, end, broadcast[0].strftime("%H:%M"), broadcast[1].strftime("%H:%M"),
                                      len(gaps), longest[1], SLOW_DISK_GAP))
    if longest[1] > SLOW_DISK_GAP:
        report.fail("slow disk: no record pass for %.2f s (ending at %.1f s) while the disk was frozen" % longest[::-1])


def check_stalls(report, scen, run, warmup):
    """A gap between record passes counts when some tuner was receiving all
    through it: then only a blocked event loop explains it."""
    lags = getattr(run, "harness_lags", [])
    gaps = judged_gaps(scen, run, status_events(run.lines), warmup, float("inf"))
    report.harness_lag = max([g for _t, g in lags] + [0.0])
    report.figure("harness: the watcher itself fell behind %d times (longest %.2f s); record-pass gaps "
                  "overlapping those are not judged" % (len(lags), report.harness_lag))
    if not gaps:
        report.fail("event loop: no record pass observed")
        return
    longest = max(gaps, key=lambda x: x[1])
    over = [g for g in gaps if g[1] > 1.0]
    ordered = sorted(g for _t, g in gaps)
    report.figure("event loop (gaps while a tuner was receiving): %d record passes seen, median gap %.0f ms, "
                  "99th percentile %.0f ms, longest %.2f s (ending at %.1f s), gaps over 1 s: %d (bound %.1f s)" %
                  (len(gaps), 1000 * ordered[len(ordered) // 2], 1000 * ordered[int(len(ordered) * 0.99)],
                   longest[1], longest[0], len(over), STALL_BOUND))
    if longest[1] > STALL_BOUND:
        report.fail("event loop: no record pass for %.2f s (ending at %.1f s)" % (longest[1], longest[0]))
