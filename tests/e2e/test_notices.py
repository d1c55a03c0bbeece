"""The computing centre's notice and the traffic statistics chart with the real program in the
simulated campus: balloons, the windows' contents, the store and the servers' request records."""

import os
import subprocess
import time
import unittest

import harness

NOTICE_BALLOON = ("RZText", "Es gibt eine neue RZ Mitteilung.\nBitte hier klicken um es zu lesen.")
NOTICE = " RZTEXT Wartung: Freitag ab 18 Uhr ist das Netz zwei Stunden aus.\nGrüße, Ihr Rechenzentrum"
FIXTURES = os.path.join(harness.REPO, "sim", "fixtures")


class NoticesTest(harness.CampusScenario):
    def window_node(self, title):
        return self.desktop.wait_accessible(name=f"^{title}$", role="filler")[0]

    def test_a_new_notice_is_announced_until_it_was_shown(self):
        self.campus.notice(NOTICE)
        program = self.program()
        program.seed_int("s_autorztext", 1)
        program.start()
        self.assertEqual(harness.wait_balloon(self.desktop, "RZText"), NOTICE_BALLOON)
        # Announced is not seen: only the window marks it.
        self.assertIsNone(program.value("last_rztext"))

        harness.click_balloon(self.desktop, "RZText")
        window = self.desktop.wait_window(r"^RZ Mitteilung \(RZText\)", pid=program.proc.pid)
        text = harness.find_accessible(self.window_node(r"RZ Mitteilung \(RZText\)"), role="text")[0]["text"]
        self.assertEqual(text, NOTICE)  # decoded from Windows-1252
        self.desktop.screenshot(os.path.join(self.artifacts, "notice.png"), window)
        self.assertEqual(program.value("last_rztext"), (harness.REG_BINARY, NOTICE.encode("cp1252")[:32]))
        self.desktop.key("Escape", window=window)
        harness.wait_for(lambda: not program.windows(name=r"^RZ Mitteilung"), what="the window to close")
        self.assertEqual([r["path"] for r in self.campus.requests("notice")], ["/motd"])
        program.stop()

        cases = [
            # (label, the notice page, announced at the next start)
            ("the notice shown before", NOTICE, False),
            ("a change behind the first 32 characters", NOTICE[:32] + " und Sonntag", False),
            ("a page without the marker", "Wartungsseite", False),
            ("a new notice", " RZTEXT Neu: Druckerkontingent erhöht", True),
        ]
        for label, page, announced in cases:
            with self.subTest(label):
                self.campus.notice(page)
                self.campus.reset()
                program.start()
                harness.wait_for(lambda: self.campus.requests("notice"), timeout=20, what="the notice fetch")
                if announced:
                    self.assertEqual(harness.wait_balloon(self.desktop, "RZText"), NOTICE_BALLOON)
                else:
                    # The balloon would follow the answer within moments.
                    time.sleep(2)
                    self.assertEqual([b[0] for b in harness.balloons_now(self.desktop)], [])
                program.stop()
        # Never shown, so the seen notice is still the first one.
        self.assertEqual(program.value("last_rztext"), (harness.REG_BINARY, NOTICE.encode("cp1252")[:32]))

    def chart_matches(self, window, fixture, name):
        """Whether the window's chart shows the fixture's pixels exactly."""
        node = self.window_node("Umsatzstatistik")
        images = [n for n in harness.find_accessible(node, role="image") if n["extents"][2] > 16]
        if len(images) != 1 or "showing" not in images[0]["states"]:
            return False
        x, y, w, h = images[0]["extents"]
        wx, wy, _, _ = self.desktop.geometry(window)
        shot = self.desktop.screenshot(os.path.join(self.artifacts, f"{name}.png"), window)
        crop = os.path.join(self.desktop.dir, f"{name}-chart.png")
        subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x - wx}+{y - wy}", "+repage", crop], check=True)
        compared = subprocess.run(["compare", "-metric", "AE", os.path.join(FIXTURES, fixture), crop, "null:"],
                                  capture_output=True, text=True)
        return compared.returncode == 0 and compared.stderr.strip() == "0"

    def test_statistics_window_shows_the_24_hour_then_the_two_week_chart(self):
        program = self.program()
        program.seed_credentials("demo", "demo1234")
        program.seed_int("s_autologin", 1)
        program.start()
        harness.wait_balloon(self.desktop, "Login erfolgreich")
        self.campus.reset()

        harness.choose_tray_item(self.desktop, program.proc.pid, "Umsatzstatistik")
        window = self.desktop.wait_window("^Umsatzstatistik$", pid=program.proc.pid)
        harness.wait_for(lambda: self.chart_matches(window, "chart-24h.gif", "24h"), timeout=20,
                         what="the 24-hour chart")
        # The window takes the chart's size plus the frame around it, and keeps its buttons in view.
        self.assertEqual(self.desktop.geometry(window)[2:], (500 + 17, 220 + 83))
        node = self.window_node("Umsatzstatistik")
        wx, wy, ww, wh = node["extents"]
        for button in harness.find_accessible(node, role="push button"):
            bx, by, bw, bh = button["extents"]
            self.assertTrue(wx <= bx and bx + bw <= wx + ww and wy <= by and by + bh <= wy + wh, button["name"])

        harness.click_accessible(self.desktop, "^Umsatzstatistik$", "combo box")
        time.sleep(0.5)
        self.desktop.key("Down", "Return")
        harness.wait_for(lambda: self.chart_matches(window, "chart-2w.gif", "2w"), timeout=20,
                         what="the two-week chart")
        self.assertEqual(self.desktop.geometry(window)[2:], (560 + 17, 240 + 83))
        self.assertEqual(harness.find_accessible(self.window_node("Umsatzstatistik"), role="combo box")[0]["name"],
                         "Letzte 2 Wochen")

        # Every fetch logs in afresh for the personal address; only the 24-hour one carries a mode.
        logins = [r["body"] for r in self.campus.requests("login")]
        self.assertEqual(logins, ["username=demo&password=demo1234&action=Login&ShowTraffic=1"] * 2)
        self.assertEqual([(r["path"], r["query"]) for r in self.campus.requests("statistic")],
                         [("/cgi-bin/umsatz", "user=demo&lang=de&Mode=24H"), ("/cgi-bin/umsatz", "user=demo&lang=de")])


if __name__ == "__main__":
    unittest.main()
