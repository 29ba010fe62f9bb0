"""The fault schedule must exercise what the soak claims to exercise, leave
room for recovery, and be the same for the same seed."""
import unittest

import scenario as sc


class Schedule(unittest.TestCase):
    def test_a_long_run_meets_every_fault_and_both_watchdog_actions(self):
        scen = sc.Scenario(7, 25, 144, disk_faults=True)
        seen = scen.figures()
        for name, _parts in sc.FAULT_KINDS:
            self.assertGreater(seen.get(name, 0), 0, name)
        self.assertEqual(seen.get("long_signal_loss"), 1)
        self.assertGreater(len(scen.disk_windows), 5)
        driver = sorted(scen.windows[sc.DRIVER_ID], key=lambda w: w[1])
        self.assertEqual({name for name, _a, _b in driver}, set(sc.DRIVER_FAULT_KINDS))
        for (_n1, _a1, b1), (_n2, a2, _b2) in zip(driver, driver[1:]):
            self.assertGreaterEqual(a2 - b1, sc.DRIVER_QUIET)

    def test_faults_of_one_tuner_leave_room_to_recover(self):
        for seed in range(5):
            scen = sc.Scenario(seed, 4.25, 360, disk_faults=True)
            for tuner, windows in scen.windows.items():
                windows = sorted(windows, key=lambda w: w[1])
                for (_n1, _a1, b1), (_n2, a2, _b2) in zip(windows, windows[1:]):
                    self.assertGreaterEqual(a2 - b1, 2.0, (seed, tuner))
                self.assertLessEqual(windows[-1][2], scen.real_seconds - sc.RECOVERY_ROOM + 3.0, (seed, tuner))

    def test_the_channel_change_comes_before_a_vanish_of_that_tuner(self):
        scen = sc.Scenario(3, 25, 144, disk_faults=False)
        vanish = [a for name, a, _b in scen.windows["SOAKA2"] if name == "channel_change_vanish"]
        self.assertEqual(len(vanish), 1)
        self.assertAlmostEqual(vanish[0] - scen.channel_change_at, 2.0)
        self.assertEqual(scen.disk_windows, [])

    def test_time_jump_takes_one_time_packet_and_disk_windows_spare_the_folder_and_midnight(self):
        for seed, hours, speed in [(1, 4.25, 360), (7, 168, 360), (2, 25, 144)]:
            scen = sc.Scenario(seed, hours, speed, disk_faults=True)
            (at, duration), = [(a, d) for _n, typ, a, d in scen.faults[sc.JUMP_TUNER] if typ == "time_jump"]
            per_unit = 1 / sc.UNITS_PER_SECOND / speed
            units = [i for i in range(int(at / per_unit) - 2, int((at + duration) / per_unit) + 3)
                     if at <= i * per_unit < at + duration]
            self.assertEqual(len(units), 1)
            self.assertEqual(units[0] % sc.TIME_EVERY, 0)
            fill, resumed = scen.midnight_window()
            self.assertAlmostEqual(scen.midnight_at * speed, 3 * 3600)
            for a, b in scen.disk_windows:
                self.assertGreater(a, scen.folder_appears_at)
                self.assertTrue(b < fill or a > resumed, (seed, a, b))
        self.assertNotIn("midnight_full", sc.Scenario(1, 4.25, 360, disk_faults=False).parts)
        self.assertIsNone(sc.Scenario(1, 2, 360, disk_faults=True).midnight_window())

    def test_same_seed_same_schedule(self):
        self.assertEqual(sc.Scenario(11, 6, 200, True).faults, sc.Scenario(11, 6, 200, True).faults)
        self.assertNotEqual(sc.Scenario(11, 6, 200, True).faults, sc.Scenario(12, 6, 200, True).faults)


if __name__ == "__main__":
    unittest.main()
