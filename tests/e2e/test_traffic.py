"""Traffic as the campus sees it: the program's counters against the kernel's ground truth, the day's
closing under a jumped clock, the limit path up to the reboot request, and a normal user who holds
only the capabilities that the install step gives."""

import datetime
import glob
import os
import pwd
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import harness

MB = 1 << 20
STUDENT_USER = "zepa-student"


def store_days(moment):
    """A local date-time as the store keeps it: days since 1899-12-30."""
    return (moment - datetime.datetime(1899, 12, 30)) / datetime.timedelta(days=1)


def date_text(days):
    """A store date-time as the log file writes it (German short date and long time, whole seconds)."""
    whole = int(days)
    moment = datetime.datetime(1899, 12, 30) + datetime.timedelta(
        days=whole, milliseconds=round(abs(days - whole) * 86_400_000))
    text = moment.strftime("%d.%m.%Y %H:%M:%S")
    return text[:-9] if text.endswith(" 00:00:00") else text


def record(start, last, downloaded, uploaded):
    """One accounting day's record; start is the calendar day on which its period begins."""
    end = start + datetime.timedelta(days=1)
    return (f"TimePeriod        = {start:%d.%m.%Y} 07:00:00 --- {end:%d.%m.%Y} 07:00:00\r\n"
            f"LastTransfer      = {last}\r\n"
            f"BytesDownloaded   = {downloaded}\r\n"
            f"BytesUploaded     = {uploaded}\r\n"
            "\r\n").encode()


class FakeClock:
    """libfaketime's wall clock for one program, jumped by rewriting its timestamp file. Only the wall
    clock moves: timers and time-outs run on the real monotonic clock."""

    def __init__(self):
        libraries = glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1")
        if not libraries:
            raise FileNotFoundError("libfaketime is not installed (package faketime)")
        self.dir = tempfile.mkdtemp(prefix="zepa-clock-")
        os.chmod(self.dir, 0o755)
        self.file = os.path.join(self.dir, "faketime")
        self.env = {"LD_PRELOAD": libraries[0], "FAKETIME_TIMESTAMP_FILE": self.file,
                    "FAKETIME_CACHE_DURATION": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}

    def set(self, moment):
        """From now on the program's wall clock reads moment and runs on from there."""
        offset = round(moment.timestamp() - time.time())
        with open(self.file + ".new", "w") as f:
            f.write(f"{offset:+d}\n")
        os.replace(self.file + ".new", self.file)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class TrafficTest(unittest.TestCase):
    def setUp(self):
        self.artifacts = harness.artifacts_dir(self.id())
        self.campus = harness.Campus().up()
        self.addCleanup(self.campus.close)

    def make_desktop(self, user=None):
        desktop = harness.Desktop(user=user)
        self.addCleanup(desktop.close)
        self.addCleanup(lambda: desktop.screenshot(os.path.join(self.artifacts, "end.png")))
        return desktop

    def make_program(self, desktop, **kwargs):
        program = harness.Program(self.campus, desktop, **kwargs)
        self.addCleanup(program.close)
        program.seed_credentials("demo", "demo1234")
        return program

    def wait_ready(self, program):
        # The instance socket exists from the first moment; the counters are in place once the forms
        # stand, and the tray icon docks just after.
        harness.wait_for(lambda: os.path.exists(os.path.join(program.runtime, "ZEPA-Monitor")), timeout=20,
                         what="the instance socket")
        harness.wait_for(lambda: program.value("uploaded") is not None, timeout=20, what="the counters")
        time.sleep(1)

    def log_in(self, program):
        # The second start returns once the first instance has carried the login out.
        self.assertEqual(program.command("/LOGIN").returncode, 0, program.output())
        self.assertTrue(self.campus.ping(), "the portal did not open")

    def stop(self, program):
        program.proc.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait_exit(timeout=30), 0, program.output())

    def showing(self, desktop, name):
        """The labels on screen whose text matches name (hidden windows stay in the tree)."""
        return [node for node in harness.find_accessible(desktop.accessible_tree(), role="label", name=name)
                if "showing" in node["states"]]

    def counters(self, program):
        return {"down": program.int64_value("downloaded"), "up": program.int64_value("uploaded")}

    def settled_counters(self, program):
        # The capture ring hands its last block over up to one read time-out after the traffic.
        last = None

        def unchanged():
            nonlocal last
            now, before = self.counters(program), last
            last = now
            return now == before and now

        return harness.wait_for(unchanged, timeout=10, interval=0.7, what="the counters to settle")

    def test_counts_exactly_what_crosses_the_campus_border(self):
        desktop = self.make_desktop()
        program = self.make_program(desktop)
        program.start()
        self.wait_ready(program)
        self.log_in(program)
        for where, count, up in (("outside", 30 * MB, False), ("campus", 20 * MB, False),
                                 ("local", 5 * MB, False), ("outside", 10 * MB, True)):
            self.campus.traffic(where, count, up=up)
        self.stop(program)

        truth = self.campus.truth()
        # Only the outside's bytes with their headers (and the acknowledgements of the upload) are in
        # the truth: the 25 MB from the campus would show.
        self.assertLess(30 * MB, truth["down"])
        self.assertLess(truth["down"], 32 * MB)
        self.assertLess(10 * MB, truth["up"])
        self.assertEqual(self.counters(program), truth)
        self.assertAlmostEqual(program.date_value("date"), store_days(datetime.datetime.now()), delta=1 / 1440)

    def test_closes_the_day_at_seven_past_one_and_the_missed_days_later(self):
        clock = FakeClock()
        self.addCleanup(clock.close)
        desktop = self.make_desktop()
        balloons = harness.BalloonWatch(desktop)
        # No file capabilities on the build's binary, so the loader honours LD_PRELOAD.
        program = self.make_program(desktop, env=clock.env)
        day = datetime.date(2026, 12, 11)
        at = lambda d, hms: datetime.datetime.combine(day + datetime.timedelta(days=d), datetime.time(*hms))

        clock.set(at(0, (6, 59, 0)))
        program.start()
        self.wait_ready(program)
        self.log_in(program)
        self.campus.traffic("outside", 3 * MB)
        self.campus.traffic("outside", 1 * MB, up=True)
        before = self.settled_counters(program)
        last_transfer = program.date_value("date")
        self.assertGreater(before["down"], 2 * MB)
        self.assertEqual(date_text(last_transfer)[:16], "11.12.2026 06:59")
        logins = len([r for r in self.campus.requests("login") if r["form"].get("action") == "Login"])

        # 07:01: the closing writes the day under its period, resets and logs in again.
        clock.set(at(0, (7, 0, 57)))
        harness.wait_for(program.read_log, timeout=30, what="the day's record")
        balloons.wait(("Login erfolgreich", "Sie sind jetzt wieder online."))
        self.assertEqual(program.read_log(),
                         record(day - datetime.timedelta(days=1), date_text(last_transfer), before["down"],
                                before["up"]))
        self.assertEqual(self.counters(program), {"down": 0, "up": 0})
        self.assertEqual(date_text(program.date_value("date"))[:16], "11.12.2026 07:01")
        relogins = [r for r in self.campus.requests("login") if r["form"].get("action") == "Login"]
        self.assertEqual(len(relogins), logins + 1)
        self.assertTrue(self.campus.ping())
        self.campus.traffic("outside", 2 * MB)
        self.stop(program)

        # Three days later, 09:00: the day closed at 07:01 holds what came after the closing; the two
        # days without the program come with zeros.
        closed = self.counters(program)
        closed_last = program.date_value("date")
        self.assertGreater(closed["down"], 2 * MB)
        log = program.read_log()
        clock.set(at(3, (9, 0, 0)))
        program.start()
        self.wait_ready(program)
        harness.wait_for(lambda: len(program.read_log()) > len(log), timeout=20, what="the missed days' records")
        self.assertEqual(program.read_log()[len(log):],
                         record(day, date_text(closed_last), closed["down"], closed["up"])
                         + record(at(1, (0, 0, 0)), "none", 0, 0) + record(at(2, (0, 0, 0)), "none", 0, 0))
        self.assertEqual(self.counters(program), {"down": 0, "up": 0})
        self.assertEqual(date_text(program.date_value("date"))[:16], "14.12.2026 09:00")

        # The computer sleeps from 09:00 through the next 07:01 to 10:00 the day after: the first
        # hand-over or alarm check closes both days before new traffic counts.
        self.log_in(program)
        self.campus.traffic("outside", 1 * MB)
        asleep = self.settled_counters(program)
        asleep_last = program.date_value("date")
        log = program.read_log()
        clock.set(at(5, (10, 0, 0)))
        harness.wait_for(lambda: len(program.read_log()) > len(log), timeout=20, what="the overdue records")
        time.sleep(1)
        self.assertEqual(program.read_log()[len(log):],
                         record(at(3, (0, 0, 0)), date_text(asleep_last), asleep["down"], asleep["up"])
                         + record(at(4, (0, 0, 0)), "none", 0, 0))
        self.assertEqual(self.counters(program), {"down": 0, "up": 0})
        self.stop(program)

    def test_limit_path_ends_in_one_reboot_request_that_forces_nothing(self):
        logind = harness.LogindMock()
        desktop = self.make_desktop()
        balloons = harness.BalloonWatch(desktop)
        program = self.make_program(desktop, env={"DBUS_SYSTEM_BUS_ADDRESS": logind.address})
        program.seed_int64("downloaded", 640 * MB)
        program.seed_date("date", store_days(datetime.datetime.now()))
        program.start()
        self.wait_ready(program)
        self.log_in(program)

        # The limit action lives only in the tray menu.
        pid = program.proc.pid
        before = set(desktop.popups(pid))
        desktop.click_tray(button=3)
        menu = harness.click_menu_item(desktop, "Überschreitung", pid=pid)
        harness.wait_for(lambda: set(desktop.popups(pid)) - before - {menu}, what="the submenu")
        desktop.screenshot(os.path.join(self.artifacts, "submenu.png"))
        harness.click_menu_item(desktop, "neustarten", pid=pid)
        harness.wait_for(lambda: set(desktop.popups(pid)) <= before, what="the menu to close")

        login = ("Login erfolgreich", "Sie sind jetzt online.")
        warning = ("Vorsicht mit dem Download!", "Sie können nur noch 50MB gefahrlos downloaden!")
        over = ("Downloadlimit überschritten!", "Sie haben mehr als 700MB gedownloaded!")
        self.campus.traffic("outside", 20 * MB)
        balloons.wait(warning[0])
        # Still under the limit: no second warning.
        self.campus.traffic("outside", 5 * MB)
        self.settled_counters(program)
        self.assertEqual(balloons.balloons(), [login, warning])

        # The rest crosses 700 MB; the logout closes the portal under it, so it never finishes. A slow
        # logout keeps the over-limit balloon up long enough for the accessibility bus to read it.
        self.campus.fail("login", "delay:2")
        rest = subprocess.Popen([harness.CAMPUSCTL, "--name", self.campus.name, "--build", self.campus.build,
                                 "traffic", "outside", str(45 * MB)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=harness.clean_env())
        self.addCleanup(lambda: rest.poll() is None and (rest.kill(), rest.wait()))
        countdown = r"^Computer wird neugestartet\.\.\.$"
        harness.wait_for(lambda: self.showing(desktop, countdown), timeout=30, interval=0.5, what="the countdown")
        desktop.screenshot(os.path.join(self.artifacts, "countdown.png"))
        balloons.wait("Logout erfolgreich")
        self.assertEqual(balloons.balloons(), [login, warning, over, ("Logout erfolgreich", "Sie sind jetzt offline.")])
        self.assertGreater(program.int64_value("downloaded"), 700 * MB)
        posts = [r["form"].get("action") for r in self.campus.requests("login") if r["method"] == "POST"]
        self.assertEqual(posts, ["Login", "Logout"])
        self.assertFalse(self.campus.ping(), "still logged in after the limit")
        self.assertEqual(logind.calls(), [])

        # Twenty seconds after the start of the countdown.
        harness.wait_for(logind.calls, timeout=30, what="the reboot request")
        time.sleep(2)
        self.assertEqual(logind.calls(), [("Reboot", "False")])
        self.assertEqual(self.showing(desktop, countdown), [])
        self.assertTrue(program.running())

    def test_normal_user_with_installed_capabilities_counts_exactly(self):
        user = self.ensure_user(STUDENT_USER)
        binary = self.install()
        getcap = subprocess.run(["getcap", binary], capture_output=True, text=True).stdout
        self.assertIn("cap_net_admin,cap_net_raw=ep", getcap)

        desktop = self.make_desktop(user=user)
        program = self.make_program(desktop, binary=binary, user=user)
        program.start()
        self.wait_ready(program)
        status = open(f"/proc/{program.proc.pid}/status").read()
        self.assertEqual(re.search(r"^Uid:\s+(\d+)", status, re.M).group(1), str(pwd.getpwnam(user).pw_uid))
        # Exactly CAP_NET_ADMIN (12) and CAP_NET_RAW (13), nothing of root's.
        self.assertEqual(int(re.search(r"^CapEff:\s+(\w+)", status, re.M).group(1), 16), (1 << 12) | (1 << 13))

        self.log_in(program)
        self.campus.traffic("outside", 8 * MB)
        self.campus.traffic("campus", 2 * MB)
        self.campus.traffic("outside", 3 * MB, up=True)
        self.stop(program)
        truth = self.campus.truth()
        self.assertLess(8 * MB, truth["down"])
        self.assertEqual(self.counters(program), truth)

    def ensure_user(self, name):
        try:
            pwd.getpwnam(name)
        except KeyError:
            subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name],
                           check=True)
            self.addCleanup(subprocess.run, ["userdel", name], capture_output=True)
        return name

    def install(self):
        """The install step into a folder of its own; returns the installed program."""
        root = tempfile.mkdtemp(prefix="zepa-install-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        os.chmod(root, 0o755)
        env = harness.clean_env()
        env["DESTDIR"] = root
        result = subprocess.run(["cmake", "--install", harness.BUILD], env=env, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("setcap failed", result.stderr)
        found = glob.glob(os.path.join(root, "**", "bin", "zepa-monitor"), recursive=True)
        self.assertEqual(len(found), 1, found)
        for dirpath, _, _ in os.walk(root):
            os.chmod(dirpath, 0o755)
        return found[0]


if __name__ == "__main__":
    unittest.main()
