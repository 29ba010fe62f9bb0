"""The unattended checks must fail a recorder that needs help: recording not
resuming after the full disk at midnight, healthy tuners starved by a failing one."""
import tempfile
import unittest

import check
import scenario as sc
import unattended


class FakeScenario:
    windows = {}


class FakeRun:
    def __init__(self, lines, scen):
        self.lines = lines
        self.midnight_filled_at = scen.midnight_fill_at
        self.free_bytes = [(scen.midnight_at - 0.1, 0), (scen.midnight_at + 0.5, 5 << 20)]


class Unattended(unittest.TestCase):
    def setUp(self):
        self.scen = sc.Scenario(1, 4.25, 360, disk_faults=True)

    def test_recording_must_resume_by_itself_soon_after_midnight(self):
        at = self.scen.midnight_at
        serials = [s for s, _m, _c, _st in sc.USB_TUNERS]
        failed = [(at - 0.1, "%s：Error:録画ファイル書き込み失敗 x/261207/2612070000_Ch27.ts" % s) for s in serials]
        report = check.Report()
        unattended.check_midnight(report, self.scen, FakeRun(
            failed + [(at + 0.1, "%s: 録画再開 (失われたパケット 9)" % s) for s in serials], self.scen))
        self.assertEqual(report.failures, [])
        self.assertIn("free space before midnight 0 kB, after the sweep up to 5120 kB", report.figures[0])
        late = check.Report()
        unattended.check_midnight(late, self.scen, FakeRun(failed + [
            (at + 3.0, "%s: 録画再開 (失われたパケット 9)" % s) for s in serials], self.scen))
        self.assertTrue(late.failures)
        self.assertTrue(all("did not resume by itself" in f for f in late.failures), late.failures)

    def test_healthy_tuners_must_not_wait_behind_the_failing_one(self):
        lines = [(2.0, "SOAKA1：放送受信：26/12/06 21:00:10"), (2.5, "SOAKM1：放送受信：26/12/06 21:00:12"),
                 (40.0, "SOAKA2：放送受信：26/12/06 21:04:00"), (1.0, "SOAKBAD：チューナー停止")]
        report = check.Report()
        with tempfile.TemporaryDirectory() as ts:
            unattended.check_failing_tuner(report, FakeScenario(), check.status_events(lines, check.ALL_TUNERS + ["SOAKBAD"]), ts)
        self.assertEqual(len(report.failures), 1, report.failures)
        self.assertIn("SOAKA2: not receiving 40.0 s after the start", report.failures[0])


if __name__ == "__main__":
    unittest.main()
