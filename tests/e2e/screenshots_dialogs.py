#!/usr/bin/python3
"""Screenshots for the README: the login dialog at a start without a stored password, the settings
dialog, the notice window and the statistics window with the 24-hour chart, all of the built
program in the simulated campus under Xvfb, reached as a user reaches them (the start-up login, the
tray menu). Run as root:

    /usr/bin/python3 tests/e2e/screenshots_dialogs.py [OUTPUT_DIR]    (default: docs/)

ZEPA_BUILD_DIR picks the build, as for the scenarios.
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True

import harness  # noqa: E402

NOTICE = """ RZTEXT vom 11.12.2026

Wartungsarbeiten im ZEPA-Netz

Am Freitag, 18.12.2026, ist das Campusnetz von 18:00 bis 20:00 Uhr
wegen Arbeiten am Router nicht erreichbar. Bitte speichern Sie Ihre
Arbeit rechtzeitig und melden Sie sich danach neu an.

Der Umsatz dieser Zeit wird Ihrem Konto nicht angerechnet.

Fragen beantwortet die Hotline des Rechenzentrums (Durchwahl 4711).

Ihr Rechenzentrum"""


def shoot(desktop, window, path):
    time.sleep(0.5)  # the last repaint after the focus moved
    desktop.screenshot(path, window)
    print(f"  {path}", flush=True)


def main(out):
    os.makedirs(out, exist_ok=True)
    desktop = harness.Desktop()
    campus = harness.Campus().up()
    campus.notice(NOTICE)
    program = harness.Program(campus, desktop)
    # A known login ID without a password: the start-up login asks for the password.
    program.seed_credentials("demo", "")
    program.seed_int("s_autologin", 1)
    program.seed_int("s_keepalive", 1)
    program.start()
    pid = program.proc.pid

    dialog = desktop.wait_window("^ZEPA Login$", pid=pid, timeout=30)
    harness.type_text(desktop, "demo1234", window=dialog)
    desktop.key("Tab", "space")  # "Passwort merken"
    shoot(desktop, dialog, os.path.join(out, "login-dialog.png"))
    desktop.key("Return")
    harness.wait_balloon(desktop, "Login erfolgreich")

    harness.choose_tray_item(desktop, pid, "Einstellungen")
    dialog = desktop.wait_window("^Einstellungen$", pid=pid)
    # Ticked for the picture only: Escape stores nothing.
    harness.click_accessible(desktop, "^Einstellungen$", "check box", "^Zeig neue RZTexte$")
    shoot(desktop, dialog, os.path.join(out, "settings-dialog.png"))
    desktop.key("Escape")
    harness.wait_for(lambda: not program.windows(name="^Einstellungen$"), what="the settings dialog to close")

    harness.choose_tray_item(desktop, pid, "RZ Mitteilung")
    window = desktop.wait_window(r"^RZ Mitteilung \(RZText\)", pid=pid)
    harness.wait_for(lambda: any("Rechenzentrum" in (n.get("text") or "") for n in harness.find_accessible(
        desktop.accessible_tree(), role="text")), what="the notice in the window")
    shoot(desktop, window, os.path.join(out, "notice-window.png"))
    desktop.key("Escape", window=window)

    harness.choose_tray_item(desktop, pid, "Umsatzstatistik")
    window = desktop.wait_window("^Umsatzstatistik$", pid=pid)
    # The window takes the chart's size once the chart is there.
    harness.wait_for(lambda: desktop.geometry(window)[2:] == (500 + 17, 220 + 83), timeout=20,
                     what="the 24-hour chart")
    shoot(desktop, window, os.path.join(out, "statistic-window.png"))
    desktop.key("Escape", window=window)


if __name__ == "__main__":
    harness.require_root()
    harness.sweep_stale()
    try:
        main(os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(harness.REPO, "docs")))
    finally:
        harness.teardown_all()
