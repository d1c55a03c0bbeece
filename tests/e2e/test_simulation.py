"""The simulated campus itself, seen from the student's computer with curl, ping and campusctl."""

import json
import os
import re
import subprocess
import unittest

import harness

LOGIN_URL = "https://login.zepa.example/cgi-bin/laklogin"
ECHO1_URL = "http://ip1.example.net/getip.php"
ECHO2_URL = "http://ip2.example.net/getip.php"
NOTICE_URL = "http://rz.zepa.example/motd"
PUBLIC = "198.18.255.1"


def title(page):
    m = re.search(rb"<big><big>(.*?)<br>", page, re.S)
    return m.group(1).decode("cp1252") if m else None


def message(page):
    m = re.search(rb"<small><small>(.*?)<br><br>", page, re.S)
    return m.group(1).decode("cp1252") if m else None


class SimulationTest(unittest.TestCase):
    def setUp(self):
        self.campus = harness.Campus().up()
        self.addCleanup(self.campus.close)

    def outside_reachable(self):
        rc1, body1 = self.campus.curl(ECHO1_URL, timeout=3)
        rc2, body2 = self.campus.curl(ECHO2_URL, timeout=3)
        return rc1 == 0, rc2 == 0, body1, body2

    def test_portal_opens_with_a_login_and_closes_with_drop(self):
        campus = self.campus
        # Campus hosts answer before any login, with certificate checks on.
        rc, form = campus.curl(LOGIN_URL)
        self.assertEqual(rc, 0)
        self.assertIn(b'name="username"', form)
        rc, notice = campus.curl(NOTICE_URL)
        self.assertEqual(rc, 0)
        self.assertTrue(notice.startswith(b" RZTEXT"))

        self.assertEqual(self.outside_reachable()[:2], (False, False))
        self.assertFalse(campus.ping())

        rc, page = campus.login()
        self.assertEqual(rc, 0)
        self.assertEqual(title(page), "Authentisierung gelungen")
        ok1, ok2, body1, body2 = self.outside_reachable()
        self.assertTrue(ok1 and ok2)
        self.assertEqual(body1, PUBLIC.encode())
        self.assertIn(f"Your IP: {PUBLIC} <!--    END PRINT TIME AND DATE    -->".encode(), body2)
        self.assertTrue(campus.ping())

        logins = [r for r in campus.requests("login") if r["method"] == "POST"]
        self.assertEqual(len(logins), 1)
        self.assertEqual(logins[0]["client"], "10.0.1.23")
        self.assertEqual(logins[0]["form"], {"username": "demo", "password": "demo1234", "action": "Login"})
        self.assertEqual(campus.requests("echo1")[0]["client"], PUBLIC)

        campus.drop()
        self.assertEqual(self.outside_reachable()[:2], (False, False))
        self.assertFalse(campus.ping())

        # A logout closes the portal as well.
        campus.login()
        self.assertTrue(campus.ping())
        rc, page = campus.curl(LOGIN_URL, "--data-raw", "action=Logout")
        self.assertEqual(title(page), "Logout erfolgreich")
        self.assertFalse(campus.ping())

    def test_truth_counts_outside_traffic_only(self):
        campus = self.campus
        self.assertNotEqual(campus.traffic("outside", 1000, check=False).returncode, 0,
                            "the outside must be closed before a login")
        campus.login()
        campus.reset()
        self.assertEqual(campus.requests(), [])
        campus.traffic("campus", 3_000_000)
        campus.traffic("local", 3_000_000)
        campus.traffic("campus", 1_000_000, up=True)
        campus.traffic("local", 1_000_000, up=True)
        self.assertEqual(campus.truth(), {"down": 0, "up": 0})

        payload = 5_000_000
        campus.traffic("outside", payload)
        truth = campus.truth()
        # IP bytes: the payload plus 52 header bytes per full-size segment, and whatever a busy
        # machine makes TCP send again.
        self.assertGreater(truth["down"], payload * 1.03)
        self.assertLess(truth["down"], payload * 1.2)
        self.assertGreater(truth["up"], 0)
        self.assertLess(truth["up"], payload * 0.1)

        before = truth["up"]
        campus.traffic("outside", payload, up=True)
        sent = campus.truth()["up"] - before
        self.assertGreater(sent, payload * 1.03)
        self.assertLess(sent, payload * 1.2)

    def test_login_server_answers(self):
        campus = self.campus
        campus.account("add", "anna", "geheim")
        campus.account("block", "anna", "812.34", "120")
        cases = [
            # (form body, title, text in the message)
            ("username=demo&password=falsch&action=Login", "Authentisierung fehlgeschlagen", "ung&uuml;ltig"),
            ("username=nobody&password=demo1234&action=Login", "Authentisierung fehlgeschlagen", ""),
            ("username=anna&password=geheim&action=Login", "Account gesperrt",
             "(max. 700): 812.34\n<br>\nUpload der letzten 24 Stunden in MB (max. 350): 120"),
            ("username=demo&password=demo1234&action=Login", "Authentisierung gelungen", "f&uuml;r das Internet"),
            ("action=Logout", "Logout erfolgreich", "abgemeldet"),
            ("action=Nonsense", "Unbekannte Aktion", ""),
        ]
        for body, expected_title, expected_text in cases:
            with self.subTest(body=body):
                rc, page = campus.curl(LOGIN_URL, "--data-raw", body)
                self.assertEqual(rc, 0)
                self.assertEqual(title(page), expected_title)
                self.assertIn(expected_text, message(page))
                self.assertIn(b"\x96", page, "pages are Windows-1252")

        campus.account("unblock", "anna")
        rc, page = campus.curl(LOGIN_URL, "--data-raw", "username=anna&password=geheim&action=Login&ShowTraffic=1")
        self.assertEqual(title(page), "Authentisierung gelungen")
        link = re.search(rb"http://statistic\.[^>]*", page).group(0).decode()
        self.assertEqual(link, "http://statistic.zepa.example/cgi-bin/umsatz?user=anna&Mode=2W&lang=de")

        # The program's edit of the link: "Mode=2W&" out, "&Mode=24H" on for the 24-hour chart.
        base = link.replace("Mode=2W&", "")
        rc, day = campus.curl(base + "&Mode=24H")
        rc2, weeks = campus.curl(base)
        self.assertEqual((rc, rc2), (0, 0))
        self.assertTrue(day.startswith(b"GIF8") and weeks.startswith(b"GIF8"))
        self.assertNotEqual(day, weeks)
        self.assertEqual(campus.requests("statistic")[0]["query"], "user=anna&lang=de&Mode=24H")

        campus.notice(" RZTEXT Neu: Gr\u00fc\u00dfe")
        rc, notice = campus.curl(NOTICE_URL)
        self.assertEqual(notice, " RZTEXT Neu: Gr\u00fc\u00dfe".encode("cp1252"))

    def test_fail_modes(self):
        campus = self.campus
        campus.login()
        # (server, url, mode, curl exit code, check of the body)
        cases = [
            ("echo1", ECHO1_URL, "error-page", 0, lambda b: b"Internal Server Error" in b),
            ("echo1", ECHO1_URL, "no-markers", 0, lambda b: len(b) > 15),
            ("echo2", ECHO2_URL, "no-markers", 0, lambda b: b"Your IP: " not in b),
            ("notice", NOTICE_URL, "no-markers", 0, lambda b: not b.startswith(b" RZTEXT")),
            ("login", LOGIN_URL, "no-markers", 0, lambda b: b"<big><big>" not in b),
            ("notice", NOTICE_URL, "down", 7, None),
            ("echo2", ECHO2_URL, "stall", 28, lambda b: b == b""),
            ("notice", NOTICE_URL, "huge", 28, lambda b: len(b) > 100_000),
            ("echo1", ECHO1_URL, "slow:4", 28, lambda b: 0 < len(b) < len(PUBLIC)),
            ("echo1", ECHO1_URL, "delay:0.5", 0, lambda b: b == PUBLIC.encode()),
        ]
        for server, url, mode, code, check in cases:
            with self.subTest(server=server, mode=mode):
                campus.fail(server, mode)
                rc, body = campus.curl(url, timeout=2)
                self.assertEqual(rc, code, body[:200])
                if check:
                    self.assertTrue(check(body), body[:200])
                campus.fail(server, "ok")
                rc, body = campus.curl(url, timeout=5)
                self.assertEqual(rc, 0, f"{server} does not recover from {mode}")

    def test_student_computer_is_wire_like(self):
        ns = self.campus.student_ns
        features = subprocess.run(["ip", "netns", "exec", ns, "ethtool", "-k", "eth0"], capture_output=True,
                                  text=True).stdout
        for feature in ("tcp-segmentation-offload", "generic-segmentation-offload", "generic-receive-offload"):
            self.assertRegex(features, rf"{feature}: off")
        link = json.loads(subprocess.run(["ip", "-n", ns, "-j", "addr", "show", "eth0"], capture_output=True,
                                         text=True).stdout)[0]
        self.assertEqual(link["mtu"], 1500)
        self.assertIn("10.0.1.23", [a["local"] for a in link["addr_info"]])
        ping_range = subprocess.run(["ip", "netns", "exec", ns, "sysctl", "-n", "net.ipv4.ping_group_range"],
                                    capture_output=True, text=True).stdout.split()
        self.assertEqual(ping_range, ["0", "2147483647"])


class LifecycleTest(unittest.TestCase):
    def host_links(self):
        out = subprocess.run(["ip", "-j", "link"], capture_output=True, text=True).stdout
        return sorted(link["ifname"] for link in json.loads(out))

    def test_down_leaves_nothing_and_nothing_reaches_the_host(self):
        links_before = self.host_links()
        tables_before = subprocess.run(["nft", "list", "tables"], capture_output=True, text=True).stdout
        campus = harness.Campus()
        self.addCleanup(campus.close)
        campus.up()
        name = campus.name
        namespaces = [f"{name}-student", f"{name}-campus", f"{name}-outside"]
        daemon = int(open(f"/run/zepa-sim/{name}/servers.pid").read())

        # Every wire of the simulation runs between its own namespaces: the host gets no interface,
        # so no packet can reach the host's own interfaces.
        self.assertEqual(self.host_links(), links_before)
        peers = set()
        for ns in namespaces:
            links = json.loads(subprocess.run(["ip", "-n", ns, "-j", "-d", "link", "show", "type", "veth"],
                                              capture_output=True, text=True).stdout)
            for link in links:
                self.assertIn("link_netnsid", link, f"{link['ifname']} in {ns} has its peer in the host")
                peers.add(link["ifname"])
        self.assertEqual(peers, {"eth0", "stud0", "wan0", "uplink0"})
        campus.login()
        self.assertEqual(campus.curl(ECHO1_URL)[0], 0)
        stray = subprocess.Popen(campus.exec_prefix() + ["sleep", "300"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(stray.kill)
        harness.wait_for(lambda: str(stray.pid) in subprocess.run(
            ["ip", "netns", "pids", namespaces[0]], capture_output=True, text=True).stdout.split(),
            what="a process in the student's namespace")

        campus.close()
        stray.wait(timeout=5)
        listed = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
        for ns in namespaces:
            self.assertNotIn(ns, listed)
            self.assertFalse(os.path.exists(f"/etc/netns/{ns}"))
        self.assertFalse(os.path.exists(f"/run/zepa-sim/{name}"))
        self.assertFalse(os.path.exists(f"/proc/{daemon}/cmdline") and
                         b"zepa-campus" in open(f"/proc/{daemon}/cmdline", "rb").read())
        self.assertEqual(subprocess.run(["nft", "list", "tables"], capture_output=True, text=True).stdout,
                         tables_before)
        self.assertEqual(self.host_links(), links_before)

    def test_up_replaces_a_stale_simulation(self):
        campus = harness.Campus()
        self.addCleanup(campus.close)
        campus.up()
        campus.login()
        campus.up()  # the same name again: a fresh campus, nobody logged in
        self.assertFalse(campus.ping())
        self.assertEqual(campus.requests(), [])


if __name__ == "__main__":
    unittest.main()
