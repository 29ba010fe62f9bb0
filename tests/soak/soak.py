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
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import check  # noqa: E402
import runner  # noqa: E402
import scenario as sc  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--brannock", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--hours", type=float, default=4.0, help="broadcast hours")
    ap.add_argument("--speed", type=float, default=400.0, help="broadcast seconds per real second")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", action="store_true", help="keep the recordings (and their tmpfs) afterwards")
    ap.add_argument("--check-only", action="store_true", help="check a kept run again")
    args = ap.parse_args()

    work = os.path.abspath(args.work)
    ts_folder = os.path.join(work, "rec")
    if args.check_only:
        run = runner.Run.load(os.path.join(work, "run.json"))
        scen = sc.Scenario(args.seed, args.hours, args.speed, disk_faults=bool(run.disk_applied))
        judged, protected = load_archive(work)
        report = verdict(scen, run, work, ts_folder, judged, protected)
    else:
        report = soak(args, work, ts_folder)
    for line in report.figures:
        print("  " + line)
    for line in report.failures:
        print("FAIL " + line)
    print("soak: %s" % ("passed" if not report.failures else "%d failures" % len(report.failures)))
    return 0 if not report.failures else 1


def soak(args, work, ts_folder):
    config_dir = os.path.join(work, "config")
    if os.path.isdir(ts_folder):
        runner.DiskFaults(ts_folder, 1).release()
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    bytes_needed = len(sc.USB_TUNERS) * args.hours * 3600 * sc.UNITS_PER_SECOND * 188
    disk = runner.DiskFaults(ts_folder, int(bytes_needed * 1.5 / 2**20) + 64)
    scen = sc.Scenario(args.seed, args.hours, args.speed, disk_faults=disk.mounted)
    try:
        judged, protected = sc.seed_archive(ts_folder)
        save_archive(work, judged, protected)
        sim_path = scen.write(work, ts_folder, config_dir)
        logs = [os.path.join(work, "delivered_%s.bin" % s) for s, _m, _c, _st in sc.USB_TUNERS]
        print("soak: seed %d, %.1f broadcast hours at speed %.0f (%.0f s), faults %s, disk faults %s" %
              (args.seed, args.hours, args.speed, scen.real_seconds, scen.figures(),
               "%d windows" % len(scen.disk_windows) if disk.mounted else "not injected (cannot mount a tmpfs)"),
              flush=True)
        run = runner.run_recorder(args.brannock, scen, sim_path, config_dir, work, disk, logs)
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
    recs = [rec for _s, rec in check.check_packets(report, scen, run, ts_folder, work,
                                                     check.retention_cutoff(run.lines), judged)]
    check.check_retention(report, ts_folder, judged, protected, run.lines, recs)
    check.check_supervisor(report, scen, run)
    check.check_resources(report, run, warmup=min(20.0, scen.real_seconds * 0.2))
    check.check_stalls(report, scen, run, warmup=5.0)
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
