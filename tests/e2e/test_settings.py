"""The login dialog and the settings dialog with the real program in the simulated campus: typed
into with xdotool, checked through the login server's record, the portal and the store's bytes."""

import os
import time
import unittest

import harness

ECHO1_URL = "http://ip1.example.net/getip.php"

# The store's two credential blocks for the login ID "abc" and the password "xyz".
ABC_LOGINID = bytes.fromhex("78797a00" + "aa" * 28)
XYZ_PASSWD = bytes.fromhex("7ce577fcd874cb4329a38a8e800c353749db421ec6997ac637a6fb24bb68003c")


class SettingsTest(harness.CampusScenario):
    def online(self):
        rc, _ = self.campus.curl(ECHO1_URL, timeout=3)
        return self.campus.ping() and rc == 0

    def login_forms(self):
        return [r["form"] for r in self.campus.requests("login") if r["method"] == "POST"]

    def login_dialog(self, program):
        return self.desktop.wait_window("^ZEPA Login$", pid=program.proc.pid, timeout=20)

    def test_the_harness_encodes_credentials_as_the_store_does(self):
        self.assertEqual(harness.encode_credentials(b"abc", b"xyz"), (ABC_LOGINID, XYZ_PASSWD))

    def test_first_start_asks_for_the_password_and_remembers_it_when_ticked(self):
        self.campus.account("add", "abc", "xyz")
        for remember in (True, False):
            with self.subTest(remember=remember):
                self.campus.drop()
                self.campus.reset()
                program = self.program()
                program.seed_int("s_autologin", 1)
                program.start()
                dialog = self.login_dialog(program)
                # An empty login ID takes the focus.
                harness.wait_for(lambda: "focused" in harness.find_accessible(
                    self.desktop.wait_accessible(name="^ZEPA Login$", role="dialog")[0], role="text")[0]["states"],
                    timeout=5, what="the focus in the login ID")
                harness.type_text(self.desktop, "abc", window=dialog)
                self.desktop.key("Tab")
                harness.type_text(self.desktop, "xyz")
                if remember:
                    self.desktop.key("Tab", "space")
                self.desktop.screenshot(os.path.join(self.artifacts, f"dialog-remember-{remember}.png"), dialog)
                self.desktop.key("Return")

                self.assertEqual(harness.wait_balloon(self.desktop, "Login erfolgreich")[1], "Sie sind jetzt online.")
                self.assertTrue(self.online())
                self.assertEqual(self.login_forms(), [{"username": "abc", "password": "xyz", "action": "Login"}])
                values = program.values()
                if remember:
                    # Stored through the settings dialog's OK: the blocks and every setting as it showed them.
                    self.assertEqual(values["s_loginid"], (harness.REG_BINARY, ABC_LOGINID))
                    self.assertEqual(values["s_passwd"], (harness.REG_BINARY, XYZ_PASSWD))
                    self.assertEqual(program.int_value("s_autologin"), 1)
                    self.assertEqual(program.int_value("s_keepalive"), 0)
                else:
                    self.assertNotIn("s_loginid", values)
                    self.assertNotIn("s_passwd", values)

                # The second run starts logged out and logs in by itself, or asks again.
                program.stop()
                self.campus.drop()
                self.campus.reset()
                program.start()
                if remember:
                    harness.wait_balloon(self.desktop, "Login erfolgreich")
                    self.assertTrue(self.online())
                    self.assertEqual(self.login_forms(), [{"username": "abc", "password": "xyz", "action": "Login"}])
                    self.assertEqual(program.windows(name="^ZEPA Login$"), [])
                else:
                    dialog = self.login_dialog(program)
                    self.desktop.key("Escape", window=dialog)
                    harness.wait_for(lambda: not program.windows(name="^ZEPA Login$"), what="the dialog to close")
                    time.sleep(2)
                    self.assertEqual(self.login_forms(), [])
                    self.assertEqual(harness.balloons_now(self.desktop), [])
                    self.assertFalse(self.online())
                program.close()

    def test_settings_dialog_stores_and_applies_what_was_typed(self):
        self.campus.account("add", "abc", "xyz")
        program = self.program()
        program.start()
        harness.wait_for(lambda: program.value("downloaded") is not None, timeout=20, what="the start")
        time.sleep(1)
        harness.choose_tray_item(self.desktop, program.proc.pid, "Einstellungen", logged_in=False)
        dialog = self.desktop.wait_window("^Einstellungen$", pid=program.proc.pid)
        harness.click_accessible(self.desktop, "^Einstellungen$", "text")
        # At most 8 characters are taken.
        harness.type_text(self.desktop, "abcdefghij")
        edit = harness.find_accessible(self.desktop.wait_accessible(name="^Einstellungen$", role="dialog")[0],
                                       role="text")[0]
        self.assertEqual(edit["text"], "abcdefgh")
        self.desktop.key(*["BackSpace"] * 5)
        harness.click_accessible(self.desktop, "^Einstellungen$", "password text")
        harness.type_text(self.desktop, "xyz")
        for box in ("Start mit Windows", "Bleib ständig online"):
            harness.click_accessible(self.desktop, "^Einstellungen$", "check box", f"^{box}$")
        self.desktop.screenshot(os.path.join(self.artifacts, "settings.png"), dialog)
        harness.click_accessible(self.desktop, "^Einstellungen$", "push button", "^OK$")
        harness.wait_for(lambda: not program.windows(name="^Einstellungen$"), what="the dialog to close")

        values = program.values()
        self.assertEqual(values["s_loginid"], (harness.REG_BINARY, ABC_LOGINID))
        self.assertEqual(values["s_passwd"], (harness.REG_BINARY, XYZ_PASSWD))
        self.assertEqual({name: program.int_value(name) for name in
                          ("s_autologin", "s_autologout", "s_keepalive", "s_autorztext")},
                         {"s_autologin": 0, "s_autologout": 0, "s_keepalive": 1, "s_autorztext": 0})
        # The desktop starts the program at logon: its absolute path, no switch.
        with open(os.path.join(program.config, "autostart", "ZEPA_Monitor.desktop")) as f:
            entry = f.read()
        self.assertIn(f"\nExec={os.path.realpath(program.binary)}\n", entry)

        # Applied at once: the tray's login asks for nothing.
        harness.choose_tray_item(self.desktop, program.proc.pid, "LogInOut", logged_in=False)
        harness.wait_balloon(self.desktop, "Login erfolgreich")
        self.assertEqual(self.login_forms(), [{"username": "abc", "password": "xyz", "action": "Login"}])
        self.assertTrue(self.online())
        self.assertEqual(program.windows(name="^ZEPA Login$"), [])


if __name__ == "__main__":
    unittest.main()
