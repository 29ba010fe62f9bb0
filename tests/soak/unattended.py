"""The checks of the unattended parts of the run: a tuner that never boots
ahead of the others, the recording folder appearing late, and the disk full
at broadcast midnight until retention makes room."""
import os
import re

import scenario as sc
from check import ALL_TUNERS, status_events, streaming_evidence

STARTUP_BOUND = 30.0  # real seconds until every healthy tuner receives
RESUMED = re.compile(r"^(\S+): 録画再開")
FILE_FAULT = "Error:録画ファイル書き込み失敗"


def check_unattended(report, scen, run, work, ts_folder, config_dir):
    events = status_events(run.lines, ALL_TUNERS + [sc.FAILING_TUNER[0]])
    if "failing_tuner" in scen.parts:
        check_failing_tuner(report, scen, events, ts_folder)
    if "late_folder" in scen.parts:
        check_late_folder(report, scen, run, events, work, ts_folder, config_dir)
    if "midnight_full" in scen.parts:
        check_midnight(report, scen, run)


def check_failing_tuner(report, scen, events, ts_folder):
    """The tuner first in the list fails every boot; the others must still be
    booted, and soon (or soon after a fault of their own at the start)."""
    bad, _model, channel = sc.FAILING_TUNER
    for serial, _m, _c, _st in sc.USB_TUNERS:
        first = next((t for t, s in events.get(serial, []) if streaming_evidence(s)), None)
        bound = max([STARTUP_BOUND] + [b + STARTUP_BOUND for _n, a, b in scen.windows.get(serial, [])
                                       if a < STARTUP_BOUND])
        if first is None or first > bound:
            report.fail("%s: not receiving %s after the start, behind the failing %s" %
                        (serial, "%.1f s" % first if first else "at any time", bad))
        else:
            report.figure("%s: receiving %.1f s after the start" % (serial, first))
    evs = events.get(bad, [])
    if any(streaming_evidence(s) for _t, s in evs):
        report.fail("%s: a tuner whose every boot fails was shown receiving" % bad)
    recorded = [name for _d, _dirs, names in os.walk(ts_folder) for name in names if "_Ch%d." % channel in name]
    if recorded:
        report.fail("%s: recordings on its channel %d: %s" % (bad, channel, recorded[:3]))
    report.figure("%s (every boot fails, first in the list): %d status changes, last %s" %
                  (bad, len(evs), evs[-1][1] if evs else "none"))


def resumed_after(report, scen, run, what, since, at, bound):
    """Every USB tuner that showed a write failure since `since` shows writing
    again (録画再開) within `bound` real seconds after `at`, unless one of its
    own faults lies in between."""
    for serial, _m, _c, _st in sc.USB_TUNERS:
        if any(a - 1.0 < at + bound and at - 5.0 < b for _n, a, b in scen.windows.get(serial, [])):
            continue
        if not any(since <= t <= at + bound and text.startswith(serial + "：" + FILE_FAULT) for t, text in run.lines):
            continue
        resumed = next((t for t, text in run.lines if t >= at - 0.5 and RESUMED.match(text)
                        and text.startswith(serial + ":")), None)
        if resumed is None or resumed > at + bound:
            report.fail("%s: recording did not resume by itself within %.1f s after %s" % (serial, bound, what))
        else:
            report.figure("%s: recording resumed %.2f s after %s" % (serial, resumed - at, what))


def check_late_folder(report, scen, run, events, work, ts_folder, config_dir):
    if run.folder_error or run.folder_appeared_at is None:
        report.fail("recording folder: could not appear: %s (the recorder made it?)" % run.folder_error)
        return
    at = run.folder_appeared_at
    report.figure("recording folder missing for the first %.1f s (%.0f broadcast minutes)" %
                  (at, at * scen.speed / 60))
    for serial, _m, _c, _st in sc.USB_TUNERS:
        if any(t < at and s.startswith(FILE_FAULT) for t, s in events.get(serial, [])):
            continue
        if any(t < at and streaming_evidence(s) for t, s in events.get(serial, [])):
            report.fail("%s: receiving before the recording folder existed, but no write failure shown" % serial)
    resumed_after(report, scen, run, "the recording folder appeared", 0.0, at,
                  sc.MIDNIGHT_RESUME / scen.speed + 2.0)
    with open(os.path.join(config_dir, "OneSeg_Config.ini"), encoding="utf-8", errors="replace") as f:
        if "TSFolder=%s\n" % ts_folder not in f.read():
            report.fail("recording folder: the setting TSFolder=%s was not kept" % ts_folder)
    strays = [os.path.join(d, n) for d, _dirs, names in os.walk(os.path.join(work, "cwd")) for n in names]
    if strays:
        report.fail("recording folder: %d files recorded elsewhere, e.g. %s" % (len(strays), strays[0]))


def check_midnight(report, scen, run):
    if run.midnight_filled_at is None:
        report.fail("midnight: the disk was never filled")
        return
    full = [free for t, free in run.free_bytes if run.midnight_filled_at < t < scen.midnight_at]
    if not full or min(full) > 0:
        report.fail("midnight: the disk was not full before midnight (filling took too long)")
    after = [free for t, free in run.free_bytes if scen.midnight_at < t < scen.midnight_window()[1] + 5.0]
    report.figure("midnight: disk filled %.0f broadcast s before; free space before midnight %s kB, "
                  "after the sweep up to %s kB" %
                  ((scen.midnight_at - run.midnight_filled_at) * scen.speed,
                   min(full) // 1024 if full else "-", max(after) // 1024 if after else "-"))
    resumed_after(report, scen, run, "broadcast midnight on a full disk", run.midnight_filled_at, scen.midnight_at,
                  sc.MIDNIGHT_RESUME / scen.speed + 2.0)
