#!/usr/bin/env python3
"""Soak test of the recorder: `brannock --headless` with four simulated tuners
at a high speed factor, faults on a seeded random schedule, then checks of
what reached the disk, how the supervisor recovered, what retention removed,
and how the process's resources and event loop behaved.

  soak.py --brannock PATH --work DIR [--hours 4] [--speed 400] [--seed 1]
Exit status 0 when every check passed; the figures go to standard output."""
import argparse
import datetime
import json
import os
import shutil
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import check  # noqa: E402
import runner  # noqa: E402
import scenario as sc  # noqa: E402
import unattended  # noqa: E402


def main():
    # A stop from outside (a test's time-out) still unmounts the disk on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    ap = argparse.ArgumentParser()
    ap.add_argument("--brannock", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--hours", type=float, default=4.0, help="broadcast hours")
    ap.add_argument("--speed", type=float, default=400.0, help="broadcast seconds per real second")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--without", action="append", default=[], choices=sc.PARTS,
                    help="leave a part of the unattended run out (repeatable)")
    ap.add_argument("--load", action="store_true",
                    help="run two CPU-bound processes and a 64 MB syncing writer beside the recorder")
    ap.add_argument("--keep", action="store_true", help="keep the recordings (and their disk) afterwards")
    ap.add_argument("--check-only", action="store_true", help="check a kept run again")
    args = ap.parse_args()

    work = os.path.abspath(args.work)
    args.brannock = os.path.abspath(args.brannock)  # the recorder runs in a folder of its own
    ts_folder = os.path.join(work, "disk", "rec")
    if args.check_only:
        run = runner.Run.load(os.path.join(work, "run.json"))
        scen = sc.Scenario(args.seed, args.hours, args.speed, disk_faults=bool(run.free_bytes), parts=run.parts)
        judged, protected = load_archive(work)
        report = verdict(scen, run, work, ts_folder, judged, protected)
    else:
        report = soak(args, work, ts_folder)
        if report.failures and fell_behind(report):
            # The machine could not keep up with the speed: what failed may be the harness's, not the
            # recorder's. The same run again, slower, decides.
            show(report, "first run: ")
            args.speed *= SLOWER
            print("soak: this machine fell behind (devices dropped %d units, the watcher lagged up to %.1f s); "
                  "running again at speed %.0f" % (report.outran, report.harness_lag, args.speed), flush=True)
            report = soak(args, work, ts_folder)
    show(report)
    print("soak: %s" % ("passed" if not report.failures else "%d failures" % len(report.failures)))
    return 0 if not report.failures else 1


SLOWER = 0.6
BEHIND_LAG = 1.0  # seconds the watcher did not look that make a run's stall and timing figures doubtful


def fell_behind(report):
    return report.outran > 0 or report.harness_lag > BEHIND_LAG


def show(report, prefix=""):
    for line in report.figures:
        print("  " + prefix + line)
    for line in report.failures:
        print(prefix + "FAIL " + line)


def disk_size_mb(hours, midnight):
    """The disk holds what is recorded before the first midnight (or all of a
    shorter run, up to a retention day) with room to spare; at midnight
    retention frees BIG_ARCHIVE, which holds the rest of the run's retention
    day. Returns (disk MB, BIG_ARCHIVE bytes)."""
    per_hour = len(sc.USB_TUNERS) * 3600 * sc.UNITS_PER_SECOND * 188
    before = min(hours, 3.0 if midnight else 26.0)
    big = int(min(max(hours - 3.0, 0.0), 26.0) * per_hour * 1.3) + (8 << 20) if midnight else 0
    return int((before * per_hour * 1.5 + big) / 2**20) + 64, big


def soak(args, work, ts_folder):
    config_dir = os.path.join(work, "config")
    mount_point = os.path.dirname(ts_folder)
    runner.unmount(mount_point)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    parts = [p for p in sc.PARTS if p not in args.without]
    size_mb, big = disk_size_mb(args.hours, "midnight_full" in parts)
    disk = runner.Disk(mount_point, os.path.join(work, "disk.img"), size_mb)
    scen = sc.Scenario(args.seed, args.hours, args.speed, disk_faults=disk.mounted, parts=parts)
    staging = ts_folder + ".staging" if "late_folder" in scen.parts else ts_folder
    try:
        judged, protected = sc.seed_archive(staging, big if "midnight_full" in scen.parts else 0)
        save_archive(work, judged, protected)
        sim_path = scen.write(work, ts_folder, config_dir)
        logs = [os.path.join(work, "delivered_%s.bin" % s) for s, _m, _c, _st in sc.USB_TUNERS]
        print("soak: seed %d, %.1f broadcast hours at speed %.0f (%.0f s), faults %s, parts %s, disk faults %s" %
              (args.seed, args.hours, args.speed, scen.real_seconds, scen.figures(), " ".join(sorted(scen.parts)),
               "%d windows on a %d MB ext4" % (len(scen.disk_windows), size_mb) if disk.mounted else
               "not injected (cannot mount an ext4 image: %s)" % disk.why_not),
              flush=True)
        load = runner.Load(work) if args.load else None
        try:
            run = runner.run_recorder(args.brannock, scen, sim_path, config_dir, work, disk, logs, staging, ts_folder)
        finally:
            if load:
                load.stop()
        run.save(os.path.join(work, "run.json"))
        with open(os.path.join(work, "brannock.out"), "w") as f:
            f.writelines("%.3f %s\n" % line for line in run.lines)
        return verdict(scen, run, work, ts_folder, judged, protected)
    finally:
        if not args.keep:
            disk.release()


def verdict(scen, run, work, ts_folder, judged, protected):
    report = check.Report()
    if run.exit_status != 0:
        report.fail("brannock ended with status %s: %s" % (run.exit_status, run.stderr.strip()[-500:]))
    cutoff = check.retention_cutoff(run.lines, scen.speed)
    recs = [rec for _s, rec in check.check_packets(report, scen, run, ts_folder, work, cutoff, judged)]
    check.check_retention(report, ts_folder, judged, protected, run.lines, recs, scen.speed)
    check.check_supervisor(report, scen, run)
    unattended.check_unattended(report, scen, run, work, ts_folder, os.path.join(work, "config"))
    check.check_resources(report, run, warmup=min(20.0, scen.real_seconds * 0.2))
    check.check_stalls(report, scen, run, warmup=5.0)
    check.check_slow_disk(report, scen, run)
    return report


def save_archive(work, judged, protected):
    with open(os.path.join(work, "archive.json"), "w") as f:
        json.dump({"judged": {k: v.isoformat() for k, v in judged.items()}, "protected": protected}, f)


def load_archive(work):
    with open(os.path.join(work, "archive.json")) as f:
        data = json.load(f)
    judged = {k: datetime.datetime.fromisoformat(v) for k, v in data["judged"].items()}
    return judged, data["protected"]


if __name__ == "__main__":
    sys.exit(main())
