"""The soak's checker must see the faults it is there to see: a packet
recorded twice, out of order, altered, or missing without a reason."""
import datetime
import os
import struct
import tempfile
import unittest
from unittest import mock

import check
import scenario as sc
from streams import data_packet, time_packet, tot_section, read_marker, packet_time

TUNER = ("SOAKA1", "A", 27, 1)


def unit(seq, jump=()):
    pos = seq % sc.LOOP
    if pos % sc.TIME_EVERY:
        return data_packet(1, pos)
    t = sc.START + datetime.timedelta(seconds=seq / sc.UNITS_PER_SECOND + (sc.JUMP_OFFSET if seq in jump else 0))
    return time_packet(1, pos, tot_section(t.year, t.month, t.day, t.hour, t.minute, t.second))


class FakeScenario:
    speed = 100.0
    faults = {}
    windows = {}
    parts = set()
    silences = []


class FakeRun:
    def __init__(self, lines=(), disk=(), freeze=None, gaps=()):
        self.lines = list(lines)
        self.disk_applied = list(disk)
        self.midnight_filled_at = None
        self.freeze_applied, self.freeze_error = freeze, None
        self.growth_gaps = list(gaps)


class PacketAccounting(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.work = self.tmp.name
        self.ts = os.path.join(self.work, "rec")
        os.makedirs(os.path.join(self.ts, "261206"))
        patcher = mock.patch.object(check.sc, "USB_TUNERS", [TUNER])
        patcher.start()
        self.addCleanup(patcher.stop)
        self.addCleanup(self.tmp.cleanup)

    def deliver(self, seqs, jump=()):
        with open(os.path.join(self.work, "delivered_SOAKA1.bin"), "wb") as f:
            for seq in seqs:
                f.write(struct.pack("<Q", seq) + unit(seq, jump))

    def record(self, seqs, name="261206210_Ch27", jump=(), mode="wb"):
        folder = os.path.join(self.ts, name[:6])
        os.makedirs(folder, exist_ok=True)
        base = os.path.join(folder, name)
        with open(base + ".ts", mode) as ts, open(base + ".idx", mode) as idx:
            for seq in seqs:
                packet = unit(seq, jump)
                if seq % sc.TIME_EVERY == 0:
                    idx.write(packet[8:13] + struct.pack("<I", ts.tell()))
                ts.write(packet)

    def verdict(self, run=None):
        report = check.Report()
        list(check.check_packets(report, FakeScenario(), run or FakeRun(), self.ts, self.work, 0))
        return report

    def test_a_faithful_recording_passes(self):
        self.deliver(range(0, 400))
        self.record(range(0, 400))
        report = self.verdict()
        self.assertEqual(report.failures, [])
        self.assertIn("recorded 400 once", report.figures[0])

    def test_packets_before_the_first_time_packet_need_no_file(self):
        self.deliver(range(5, 400))
        self.record(range(40, 400))
        self.assertEqual(self.verdict().failures, [])

    def test_a_duplicated_packet_fails(self):
        self.deliver(range(0, 120))
        self.record(list(range(0, 60)) + [59] + list(range(60, 120)))
        self.assertTrue(any("duplicated" in f or "out of order" in f for f in self.verdict().failures))

    def test_a_silence_longer_than_the_loop_keeps_the_sequence(self):
        gap = sc.LOOP - 100  # no time packet between the two stretches
        first = list(range(0, 70))
        second = [s for s in range(70 + gap, 70 + gap + 30) if s % sc.LOOP % sc.TIME_EVERY]
        self.deliver(first + second)
        self.record(first + second)
        report = self.verdict()
        self.assertEqual(report.failures, [])
        self.assertIn("recorded %d once" % (len(first) + len(second)), report.figures[0])

    def test_a_file_opened_on_an_ordinary_packet_is_traced_from_its_own_time(self):
        # A tuner taking a silent writer's channel over starts the file a loop
        # and more after an earlier one holding the same loop positions.
        later = list(range(sc.LOOP + 100, sc.LOOP + 200))
        self.deliver(list(range(0, 200)) + later)
        self.record(range(0, 200))
        self.record(later, name="261206220_Ch27")
        report = self.verdict()
        self.assertEqual(report.failures, [])
        self.assertIn("recorded 300 once", report.figures[0])

    def test_a_follower_waiting_out_its_writers_silence_meets_no_full_disk(self):
        run = list(range(800, 1200))
        at = 800 / sc.UNITS_PER_SECOND / FakeScenario.speed
        explain = lambda silences: check.explain_run(run, 0, len(run), run, [], [(at, at + 0.3)], FakeScenario.speed,
                                                     0, set(run), silences)
        self.assertEqual(explain([]), "disk refused writes")
        self.assertEqual(explain([("SOAKA1", at - 0.1, at + 10)]), check.FOLLOWER_WAIT)

    def test_packets_swapped_fail(self):
        seqs = list(range(0, 120))
        seqs[50], seqs[51] = seqs[51], seqs[50]
        self.deliver(range(0, 120))
        self.record(seqs)
        self.assertTrue(any("out of order" in f for f in self.verdict().failures))

    def test_a_packet_lost_mid_file_fails(self):
        self.deliver(range(0, 200))
        self.record([s for s in range(0, 200) if s != 77])
        failures = self.verdict().failures
        self.assertTrue(any("missing" in f and "seq 77..77" in f for f in failures), failures)

    def test_an_altered_packet_fails(self):
        self.deliver(range(0, 80))
        self.record(range(0, 80))
        path = os.path.join(self.ts, "261206", "261206210_Ch27.ts")
        with open(path, "r+b") as f:
            f.seek(188 * 10 + 100)
            f.write(b"\x00")
        self.assertTrue(any("altered" in f for f in self.verdict().failures))

    def test_losses_while_writes_are_refused_must_be_shown(self):
        self.deliver(range(0, 400))
        self.record([s for s in range(0, 400) if not 120 <= s < 200])
        at = 120 / sc.UNITS_PER_SECOND / FakeScenario.speed
        silent = self.verdict(FakeRun(disk=[(at, at + 0.05)])).failures
        self.assertTrue(any("showed only 0" in f for f in silent), silent)
        shown = FakeRun(lines=[(1.0, "SOAKA1: 録画ファイル書き込み失敗 x.ts (失われたパケット 80)")],
                        disk=[(at, at + 0.05)])
        self.assertEqual(self.verdict(shown).failures, [])
        half = FakeRun(lines=[(1.0, "SOAKA1: 録画ファイル書き込み失敗 x.ts (失われたパケット 40)")],
                       disk=[(at, at + 0.05)])
        self.assertTrue(any("showed only 40" in f for f in self.verdict(half).failures))

    def test_a_full_write_queue_refuses_as_a_full_disk_does(self):
        self.deliver(range(0, 400))
        self.record([s for s in range(0, 400) if not 120 <= s < 200])
        at = 200 / sc.UNITS_PER_SECOND / FakeScenario.speed  # the refused flush ends the pass
        shown = FakeRun(lines=[(at, "SOAKA1: 録画ファイル書き込み失敗 x.ts (失われたパケット 80)")])
        self.assertEqual(self.verdict(shown).failures, [])
        self.assertTrue(any("UNEXPLAINED" in f for f in self.verdict(FakeRun()).failures))

    def test_a_start_just_before_a_disk_window_loses_its_head_by_design(self):
        self.deliver(range(5, 400))
        self.record(range(41, 400))
        start = 5 / sc.UNITS_PER_SECOND / FakeScenario.speed
        report = self.verdict(FakeRun(disk=[(start + 0.5, start + 0.6)]))
        self.assertEqual(report.failures, [])
        self.assertTrue(any("before the first time packet after a (re)start: 36" in f for f in report.figures),
                        report.figures)

    def test_lost_counts_of_every_record_of_a_tuner_add_up(self):
        lines = [(1, "SOAKA1: 録画ファイル書き込み失敗 a.ts (失われたパケット 10)"),
                 (2, "SOAKA1: 録画ファイル書き込み失敗 a.ts (失われたパケット 25)"),
                 (3, "チューナー検出：SOAKA1 (SOAKA1)"),
                 (4, "SOAKA1: 録画ファイル書き込み失敗 b.ts (失われたパケット 7)"),
                 (5, "SOAKM1: 録画ファイル書き込み失敗 c.ts (失われたパケット 3)")]
        self.assertEqual(check.reported_lost(lines), {"SOAKA1": 32, "SOAKM1": 3})

    def test_a_time_from_the_jump_is_traced_but_a_file_not_named_after_its_time_fails(self):
        self.deliver(range(0, 120), jump={41})
        self.record(range(0, 41))
        self.record(range(41, 82), name="281205210_Ch27", jump={41})  # named by the jumped time
        self.record(range(82, 120), mode="ab")
        report = self.verdict()
        self.assertEqual(report.failures, [])
        self.assertIn("two years ahead recorded 1", report.figures[0])
        self.tmp.cleanup()
        os.makedirs(self.ts)
        self.deliver(range(0, 120))
        self.record(range(0, 120), name="261206211_Ch27")  # 21:10, but the times say 21:00
        self.assertTrue(any("3 recorded packets in a file not named after their time" in f
                            for f in self.verdict().failures))

    def test_an_index_pointing_elsewhere_fails(self):
        self.deliver(range(0, 80))
        self.record(range(0, 80))
        with open(os.path.join(self.ts, "261206", "261206210_Ch27.idx"), "r+b") as f:
            f.seek(5)
            f.write(struct.pack("<I", 188))
        self.assertTrue(any("badly indexed" in f for f in self.verdict().failures))

    def test_a_missing_index_fails_unless_the_recorder_showed_it(self):
        self.deliver(range(0, 80))
        self.record(range(0, 80))
        idx = os.path.join(self.ts, "261206", "261206210_Ch27.idx")
        os.unlink(idx)
        self.assertTrue(any("1 recorded packets badly indexed" in f for f in self.verdict().failures))
        shown = FakeRun([(1.0, "SOAKA1: 録画ファイル書き込み失敗 %s (失われたパケット 0)" % idx)])
        self.assertEqual(self.verdict(shown).failures, [])

    def test_units_the_device_dropped_are_reported_not_judged(self):
        self.deliver(range(0, 80))
        self.record(range(0, 80))
        with open(os.path.join(self.work, "delivered_SOAKA1.bin.dropped"), "w") as f:
            f.write("7\n")
        report = self.verdict()
        self.assertEqual(report.failures, [])
        self.assertEqual(report.outran, 7)

    def test_a_loss_is_named_only_as_far_as_the_recorder_counted_it(self):
        self.deliver(range(0, 200))
        self.record([s for s in range(0, 200) if not 77 <= s < 80])

        def counted(follower):
            return FakeRun([(9.0, "SOAKA1: 録画されなかったパケット 枠ずれ 0 追従 %d 読み込み失敗 0 書き込み失敗 0 "
                                  "時刻受信前 0" % follower)])
        self.assertEqual(self.verdict(counted(3)).failures, [])
        failures = self.verdict(counted(2)).failures
        self.assertTrue(any("1 delivered packets missing" in f for f in failures), failures)

    def test_losses_while_the_disk_is_frozen_must_be_shown(self):
        self.deliver(range(0, 200))
        self.record([s for s in range(0, 200) if not 77 <= s < 80])
        frozen = (77 / sc.UNITS_PER_SECOND / FakeScenario.speed - 0.01, 0.2)
        failures = self.verdict(FakeRun(freeze=frozen)).failures
        self.assertTrue(any("showed only 0" in f for f in failures), failures)
        shown = [(0.5, "SOAKA1: 録画ファイル書き込み失敗 x (失われたパケット 3)")]
        self.assertEqual(self.verdict(FakeRun(shown, freeze=frozen)).failures, [])


class Watchdog(unittest.TestCase):
    """A tuner booting into a silence has its watchdog counting from the boot."""

    def failures(self, firings):
        scen = FakeScenario()
        scen.faults = {"SOAKM1": [("signal_loss", "signal_loss", 10.0, 28.0)]}
        report = check.Report()
        check.check_usb_watchdog(report, scen, "SOAKM1", [(1.0, "チューナ初期化"), (14.0, "初期化完了")] + firings)
        return report.failures

    def test_firing_16_to_20_s_after_the_boot_passes_later_or_never_fails(self):
        self.assertEqual(self.failures([(30.5, "コマンド再送信")]), [])
        self.assertEqual(len(self.failures([(35.5, "コマンド再送信")])), 1)
        self.assertEqual(len(self.failures([])), 1)


class SlowDisk(unittest.TestCase):
    def verdict(self, *gaps):
        scen = FakeScenario()
        scen.parts = {"slow_disk"}
        run = FakeRun([(1.0, "SOAKA1：放送受信：26/12/06 21:00:05")], freeze=(10.0, 13.0), gaps=gaps)
        report = check.Report()
        with mock.patch.object(check.sc, "USB_TUNERS", [TUNER]):
            check.check_slow_disk(report, scen, run)
        return report.failures

    def test_a_record_pass_held_up_while_the_disk_is_frozen_fails(self):
        self.assertEqual(self.verdict((9.0, 3.0), (10.5, 0.05), (11.4, 0.9), (14.5, 1.5)), [])
        self.assertEqual(len(self.verdict((10.5, 0.05), (12.0, 1.5))), 1)
        self.assertEqual(len(self.verdict((14.5, 1.4))), 1)  # none seen during the freeze


class Markers(unittest.TestCase):
    def test_time_packet_keeps_marker_and_time(self):
        packet = unit(sc.TIME_EVERY * 3)
        self.assertEqual(read_marker(packet), (1, sc.TIME_EVERY * 3, True))
        expected = sc.START + datetime.timedelta(seconds=15)
        self.assertEqual(packet_time(packet), (expected - check.EPOCH).total_seconds())

    def test_sequence_resolves_across_the_loop(self):
        self.assertEqual(check.nearest_seq(sc.LOOP * 5 + 3, 1), sc.LOOP * 5 + 1)
        self.assertEqual(check.nearest_seq(sc.LOOP * 5 - 2, 1), sc.LOOP * 5 + 1)


class Retention(unittest.TestCase):
    def test_last_sweep_is_the_first_time_of_the_latest_hour(self):
        lines = [(0, "A：放送受信：26/12/07 21:59:55"), (1, "A：放送受信：26/12/07 22:00:05"),
                 (2, "B：放送受信：26/12/07 22:00:10")]
        # A time from the jump never counts as a sweep.
        lines.append((3, "C：放送受信：28/12/06 23:00:00"))
        sweep, certain = check.last_sweep(lines, 100.0)
        self.assertEqual(check.EPOCH + datetime.timedelta(seconds=sweep), datetime.datetime(2026, 12, 7, 22, 0, 5))
        self.assertFalse(certain)
        cutoff = check.retention_cutoff(lines, 100.0)
        self.assertEqual(check.EPOCH + datetime.timedelta(seconds=cutoff), datetime.datetime(2026, 12, 6, 23))


if __name__ == "__main__":
    unittest.main()
