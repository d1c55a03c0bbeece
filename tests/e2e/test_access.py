"""Logging in to and out of the campus network with the real program in the student's computer:
checked through what the portal lets through, the login server's record, balloons and the tooltip."""

import datetime
import os
import time
import unittest

import harness

ECHO1_URL = "http://ip1.example.net/getip.php"
PUBLIC = "198.18.255.1"
UNKNOWN = "?.?.?.?"


class AccessTest(harness.CampusScenario):
    def start(self, login="demo", password="demo1234", autologin=True, keepalive=False, prefix=()):
        program = harness.Program(self.campus, self.desktop)
        self.addCleanup(program.close)
        program.seed_credentials(login, password)
        program.seed_int("s_autologin", int(autologin))
        program.seed_int("s_keepalive", int(keepalive))
        program.start(prefix=prefix)
        # Cleanups run last-in first-out: the picture is taken while the program still runs.
        self.addCleanup(lambda: self.desktop.screenshot(os.path.join(self.artifacts, "end.png")))
        return program

    def wait_ready(self, program):
        harness.wait_for(lambda: program.value("downloaded") is not None or not program.running(), timeout=20,
                         what="the start")
        self.assertTrue(program.running(), program.output())
        # The forms stand once the tray icon has docked; give the start-up sequence its moment.
        time.sleep(1)

    def reachable(self):
        """(reference host answers, outside world answers with the public address) as the student sees it."""
        rc, body = self.campus.curl(ECHO1_URL, timeout=3)
        return self.campus.ping(), rc == 0 and body == PUBLIC.encode()

    def login_bodies(self):
        return [r["body"] for r in self.campus.requests("login") if r["method"] == "POST"]

    def address_in_tooltip(self):
        lines = harness.tray_tooltip_now(self.desktop).split("\n")
        self.assertEqual(lines[:2], ["ZEPA-Monitor", "10.0.1.23"])
        return lines[2]

    def test_login_at_start_then_logout_and_login_from_a_second_start(self):
        self.assertEqual(self.reachable(), (False, False))
        program = self.start()
        self.assertEqual(harness.wait_balloon(self.desktop, "Login erfolgreich"),
                         ("Login erfolgreich", "Sie sind jetzt online."))
        self.assertEqual(self.reachable(), (True, True))
        self.assertEqual(self.address_in_tooltip(), PUBLIC)
        self.assertEqual(self.login_bodies(), ["username=demo&password=demo1234&action=Login"])
        # The public address came from the first echo service, asked through the opened portal.
        self.assertIn(PUBLIC, [r["client"] for r in self.campus.requests("echo1")])
        self.desktop.screenshot(os.path.join(self.artifacts, "logged-in.png"))

        # The sender of a command waits until the first instance has carried it out.
        self.assertEqual(program.command("/LOGOUT").returncode, 0)
        self.assertEqual(harness.wait_balloon(self.desktop, "Logout erfolgreich"),
                         ("Logout erfolgreich", "Sie sind jetzt offline."))
        self.assertEqual(self.reachable(), (False, False))
        self.assertEqual(self.login_bodies()[-1], "action=Logout")
        self.assertEqual(self.address_in_tooltip(), UNKNOWN)

        self.assertEqual(program.command("/LOGIN").returncode, 0)
        harness.wait_balloon(self.desktop, "Login erfolgreich")
        self.assertEqual(self.reachable(), (True, True))
        self.assertEqual(self.address_in_tooltip(), PUBLIC)
        self.assertEqual(self.login_bodies(), ["username=demo&password=demo1234&action=Login", "action=Logout",
                                               "username=demo&password=demo1234&action=Login"])
        self.assertTrue(program.running(), program.output())

    def test_login_outcomes_at_start(self):
        days = "\n\nTage bis entspeerung: "
        cases = [
            # (label, campus accounts, login, password, form body received, balloon, online afterwards)
            ("wrong password", [], "demo", "falsch", "username=demo&password=falsch&action=Login",
             ("Login Fehler", "Überprüfen Sie Ihr LoginID und Passwort."), False),
            ("blocked account", [("add", "anna", "geheim"), ("block", "anna", "812.34", "120")],
             "anna", "geheim", "username=anna&password=geheim&action=Login",
             ("Login Fehler", ("vorübergehend gesperrt", "(max. 700): 812.34", days + "1")), False),
            ("blocked account, figure with a thousands separator and a unit",
             [("add", "anna", "geheim"), ("block", "anna", "1,234.5 MB", "120")],
             "anna", "geheim", None, ("Login Fehler", ("(max. 700): 1,234.5 MB", days + "3")), False),
            # Form-encoded, so the server reads the password that was typed.
            ("password with & = + %", [("add", "bert", "a&b=c+d%")], "bert", "a&b=c+d%",
             "username=bert&password=a%26b%3Dc%2Bd%25&action=Login",
             ("Login erfolgreich", "Sie sind jetzt online."), True),
        ]
        for label, accounts, login, password, body, balloon, online in cases:
            with self.subTest(label):
                for account in accounts:
                    self.campus.account(*account)
                self.campus.reset()
                program = self.start(login, password)
                title, expected = balloon
                shown = harness.wait_balloon(self.desktop, title)
                if isinstance(expected, tuple):
                    for part in expected:
                        self.assertIn(part, shown[1])
                    self.assertTrue(shown[1].endswith(expected[-1]), shown[1])
                else:
                    self.assertEqual(shown[1], expected)
                self.assertEqual(self.reachable(), (online, online))
                logins = [r for r in self.campus.requests("login") if r["method"] == "POST"]
                self.assertEqual(len(logins), 1)
                if body:
                    self.assertEqual(logins[0]["body"], body)
                self.assertEqual(logins[0]["form"]["password"], password)
                self.desktop.screenshot(os.path.join(self.artifacts, label.replace(" ", "-") + ".png"))
                program.close()
                self.campus.drop()

    def test_keep_alive_logs_in_again_after_a_drop(self):
        # Midday, so that the jumps cannot meet the daily closing at 07:01.
        noon = datetime.datetime.combine(datetime.date.today(), datetime.time(12, 0))
        clock = harness.JumpingClock(self.desktop.dir, start=noon)
        program = self.start(keepalive=True, prefix=clock.prefix())
        harness.wait_balloon(self.desktop, "Login erfolgreich")
        self.assertEqual(self.reachable(), (True, True))

        for round_ in (1, 2):
            self.campus.drop()
            self.assertEqual(self.reachable(), (False, False))
            # The check comes 10 minutes after the login (or the last re-login), not before.
            clock.jump(5 * 60)
            time.sleep(3)
            self.assertEqual(self.reachable(), (False, False), f"round {round_}: re-login before its time")
            clock.jump(6 * 60)
            harness.wait_for(lambda: len(self.login_bodies()) == 1 + round_, timeout=20,
                             what=f"re-login {round_}")
            self.assertEqual(harness.wait_balloon(self.desktop, "Verbindung erneut"),
                             ("Verbindung erneut", "Sie sind jetzt wieder online."))
            harness.wait_for(lambda: self.reachable() == (True, True), timeout=5, what="the portal open again")
            self.assertEqual(self.login_bodies()[-1], "username=demo&password=demo1234&action=Login")
        self.assertEqual(self.address_in_tooltip(), PUBLIC)
        self.assertTrue(program.running(), program.output())

    def test_stalled_or_endless_login_server_ends_with_an_error(self):
        program = self.start(autologin=False)
        self.wait_ready(program)
        cases = [
            # (fail mode, the balloon's text, time the login may take at most). The endless body
            # first: a stalled login is done by the server once it is released.
            ("huge", "Die Antwort des Servers ist zu groß (mehr als 4 MiB) und wurde verworfen.", 60),
            ("stall", "Operation too slow. Less than 1 bytes/sec transferred the last 30 seconds", 90),
        ]
        for mode, text, bound in cases:
            with self.subTest(mode):
                self.campus.fail("login", mode)
                started = time.monotonic()
                # The sender returns once the first instance has finished the login.
                self.assertEqual(program.command("/LOGIN", timeout=bound).returncode, 0)
                took = time.monotonic() - started
                self.assertEqual(harness.wait_balloon(self.desktop, "Login Fehler"), ("Login Fehler", text))
                print(f"\n  {mode}: the login ended with its error after {took:.1f} s", flush=True)
                self.assertEqual(self.reachable(), (False, False))
                self.desktop.screenshot(os.path.join(self.artifacts, f"{mode}.png"))
                self.campus.fail("login", "ok")
        # Nothing hangs on: the next login goes through.
        self.assertEqual(program.command("/LOGIN").returncode, 0)
        harness.wait_balloon(self.desktop, "Login erfolgreich")
        self.assertEqual(self.reachable(), (True, True))


if __name__ == "__main__":
    unittest.main()
