"""The program as a user starts it: one instance per user, forwarded switches, the end on SIGTERM,
the settings store's layout and the two fatal start-ups. Runs in throwaway namespaces (no campus)."""

import os
import signal
import struct
import subprocess
import time
import unittest

import harness


class FoundationTest(unittest.TestCase):
    def setUp(self):
        self.desktop = harness.Desktop()
        self.addCleanup(self.desktop.close)

    def start(self, where=None, seed=None):
        where = where or harness.ThrowawayNamespace()
        self.addCleanup(where.close)
        program = harness.Program(where, self.desktop)
        self.addCleanup(program.close)
        if seed:
            seed(program)
        program.start()
        return program

    def wait_ready(self, program):
        # The instance socket exists from the first moment; the tray icon docks once the forms stand.
        harness.wait_for(lambda: os.path.exists(os.path.join(program.runtime, "ZEPA-Monitor")),
                         what="the instance socket")
        harness.wait_for(lambda: program.value("downloaded") is not None, what="the counters at start")
        time.sleep(0.5)

    def monitor_window(self, program):
        # Message boxes and the tray icon's own window carry the same title; the size tells them apart.
        found = []
        for w in program.windows():
            _, _, width, height = self.desktop.geometry(w)
            if self.desktop.window_name(w) == "ZEPA-Monitor" and width >= 280 and 200 <= height <= 353:
                found.append(w)
        return found

    def second_start(self, program, *args):
        return subprocess.Popen(program.command_line(*args), env=program.env(), stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def test_switches_reach_the_first_instance_and_the_sender_waits(self):
        program = self.start()
        self.wait_ready(program)
        self.assertEqual(program.values()["downloaded"], (harness.REG_BINARY, bytes(8)))

        self.assertEqual(program.command("/show").returncode, 0)
        harness.wait_for(lambda: self.monitor_window(program), timeout=3, what="the monitor window")
        self.assertEqual(program.command("  /HIDE  ignored").returncode, 0)
        harness.wait_for(lambda: not self.monitor_window(program), timeout=3, what="the window to hide")

        # Logged out and no password stored: the login asks, and the sender waits for the answer.
        for switch in ("/LOGIN", "/RELOGIN"):
            sender = self.second_start(program, switch)
            dialog = self.desktop.wait_window("^ZEPA Login$", pid=program.proc.pid)
            time.sleep(0.5)
            self.assertIsNone(sender.poll(), f"{switch}: the sender ended before the command was done")
            self.desktop.key("Escape", window=dialog)
            self.assertEqual(sender.wait(timeout=10), 0)
        # Logged out already: nothing to do, and the sender ends at once.
        started = time.monotonic()
        self.assertEqual(program.command("/LOGOUT").returncode, 0)
        self.assertLess(time.monotonic() - started, 5)
        self.assertTrue(program.running())

    def test_no_or_unknown_switch_explains_the_switches(self):
        program = self.start()
        self.wait_ready(program)
        for args in ((), ("/LOGINX",), ("\t/LOGIN",)):
            sender = self.second_start(program, *args)
            box = self.desktop.wait_window("^ZEPA-Monitor$", pid=sender.pid)
            text = self.desktop.ocr(box)
            self.assertIn("Hintergrund", text, args)
            self.assertIn("RELOGIN", text, args)
            self.desktop.key("Return", window=box)
            self.assertEqual(sender.wait(timeout=10), 0)
        self.assertEqual(self.monitor_window(program), [])

    def test_twenty_starts_at_once_leave_one_instance(self):
        where = harness.ThrowawayNamespace()
        self.addCleanup(where.close)
        program = harness.Program(where, self.desktop)
        self.addCleanup(program.close)
        starts = [self.second_start(program, "/SHOW") for _ in range(20)]
        harness.wait_for(lambda: sum(p.poll() is None for p in starts) <= 1, timeout=60,
                         what="all but one start to end")
        time.sleep(1)
        alive = [p for p in starts if p.poll() is None]
        self.assertEqual(len(alive), 1)
        self.assertTrue(all(p.returncode == 0 for p in starts if p.poll() is not None))
        first = alive[0]
        first.send_signal(signal.SIGTERM)
        self.assertEqual(first.wait(timeout=15), 0)

    def test_sigterm_ends_with_code_zero(self):
        program = self.start()
        self.wait_ready(program)
        program.proc.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait_exit(timeout=15), 0)
        # The socket is gone, so the next start is a first instance again.
        self.assertFalse(os.path.exists(os.path.join(program.runtime, "ZEPA-Monitor")))

    def test_store_keeps_the_value_kinds_and_a_wrong_kind_is_an_error(self):
        program = self.start()
        self.wait_ready(program)
        program.stop()
        values = program.values()
        self.assertEqual(values["downloaded"], (harness.REG_BINARY, bytes(8)))
        self.assertEqual(values["uploaded"], (harness.REG_BINARY, bytes(8)))
        mode = os.stat(program.store).st_mode & 0o777
        self.assertEqual(mode, 0o600)

        # A DWORD where the counter's 8-byte binary belongs: the registry layer's error, then the end.
        program.sql("UPDATE reg_values SET type = 4, data = X'01000000' WHERE name = 'downloaded'")
        program.start()
        box = self.desktop.wait_window("^ZEPA-Monitor$", pid=program.proc.pid)
        self.assertIn("downloaded", self.desktop.ocr(box))
        self.desktop.key("Return", window=box)
        self.assertEqual(program.wait_exit(timeout=15), 0)

    def test_without_a_campus_adapter_the_program_says_so_and_ends(self):
        where = harness.NoAdapterNamespace()
        self.addCleanup(where.close)
        # A private address that is no campus address, with a peer that would see anything sent.
        subprocess.run(["ip", "-n", where.name, "link", "add", "eth0", "type", "veth", "peer", "name", "peer0"],
                       check=True)
        subprocess.run(["ip", "-n", where.name, "addr", "add", "192.168.1.5/24", "dev", "eth0"], check=True)
        subprocess.run(["ip", "-n", where.name, "link", "set", "eth0", "up"], check=True)
        subprocess.run(["ip", "-n", where.name, "link", "set", "peer0", "up"], check=True)
        time.sleep(1)
        before = self.sent_packets(where)
        program = self.start(where)
        box = self.desktop.wait_window("^ZEPA-Monitor$", pid=program.proc.pid)
        self.assertIn("kein Netzwerkkarte", self.desktop.ocr(box))
        # The tray icon ignores input meanwhile: a double click opens no monitor window.
        self.desktop.click_tray(repeat=2)
        time.sleep(0.5)
        self.assertEqual(self.monitor_window(program), [])
        self.desktop.key("Return", window=box)
        self.assertEqual(program.wait_exit(timeout=15), 0)
        self.assertEqual(self.sent_packets(where), before)
        self.assertIsNone(program.value("downloaded"))

    def sent_packets(self, where):
        out = subprocess.run(["ip", "-n", where.name, "-s", "-j", "link"], capture_output=True, text=True,
                             check=True).stdout
        import json
        return {link["ifname"]: link["stats64"]["tx"]["packets"] for link in json.loads(out)}


if __name__ == "__main__":
    unittest.main()
