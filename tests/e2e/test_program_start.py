"""The program starts in the student's namespace, finds its campus adapter and writes its counters."""

import datetime
import os
import unittest

import harness


def store_days(moment):
    """A local date-time as the store keeps it: days since 1899-12-30."""
    return (moment - datetime.datetime(1899, 12, 30)) / datetime.timedelta(days=1)


class ProgramStartTest(unittest.TestCase):
    def setUp(self):
        self.desktop = harness.Desktop()
        self.addCleanup(self.desktop.close)
        self.artifacts = harness.artifacts_dir(self.id())

    def start(self, where, seed=None):
        program = harness.Program(where, self.desktop)
        self.addCleanup(program.close)
        if seed:
            seed(program)
        program.start()
        self.addCleanup(lambda: self.desktop.screenshot(os.path.join(self.artifacts, "end.png")))
        return program

    def test_finds_the_campus_adapter_and_writes_the_counters(self):
        campus = harness.Campus().up()
        self.addCleanup(campus.close)
        two_days_ago = store_days(datetime.datetime.now() - datetime.timedelta(days=2))
        cases = [
            # (what the store holds before, values expected after the start)
            ("fresh store", None, {"downloaded": 0, "uploaded": 0}),
            ("counters of two days ago",
             lambda p: (p.seed_int64("downloaded", 123_456_789), p.seed_int64("uploaded", 4_567),
                        p.seed_date("date", two_days_ago)),
             {"downloaded": 0, "uploaded": 0, "date": "now"}),
        ]
        for label, seed, expected in cases:
            with self.subTest(label):
                program = self.start(campus, seed)
                started = store_days(datetime.datetime.now())
                harness.wait_for(lambda: program.int64_value("downloaded") == 0
                                 and program.int64_value("uploaded") == 0, timeout=20,
                                 what="the counters written at start")
                for name, value in expected.items():
                    if value == "now":
                        # Within a minute of the start.
                        self.assertAlmostEqual(program.date_value(name), started, delta=1 / 1440)
                    else:
                        self.assertEqual(program.int64_value(name), value)
                # The campus adapter's address is the tooltip's second line.
                tip = self.desktop.tray_tooltip()
                self.assertEqual(tip.split("\n")[:2], ["ZEPA-Monitor", "10.0.1.23"])
                self.assertTrue(program.running(), program.output())
                self.desktop.screenshot(os.path.join(self.artifacts, f"{label.replace(' ', '-')}.png"))
                program.close()

    def test_ends_with_its_message_without_a_campus_adapter(self):
        cases = [
            ("no adapter", harness.NoAdapterNamespace),
            ("home network", lambda: harness.ThrowawayNamespace("192.168.1.5/24")),
            ("other private network", lambda: harness.ThrowawayNamespace("10.1.2.3/16")),
        ]
        for label, make in cases:
            with self.subTest(label):
                where = make()
                self.addCleanup(where.close)
                program = self.start(where)
                alert = self.desktop.wait_accessible(role="alert")[0]
                labels = harness.find_accessible(alert, role="label")
                self.assertEqual([node["name"] for node in labels],
                                 ["Es gibt kein Netzwerkkarte mit 10.0.x.x Adresse!"])
                self.desktop.screenshot(os.path.join(self.artifacts, f"{label.replace(' ', '-')}.png"))
                self.desktop.key("Return")
                program.wait_exit(timeout=10)
                self.assertIsNone(program.value("downloaded"))
                program.close()


if __name__ == "__main__":
    unittest.main()
