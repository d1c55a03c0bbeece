#!/usr/bin/python3
"""Screenshots for the README: the monitor window with its bars green, olive and maroon (counters
seeded in the store, the window shown with /SHOW) and the tray menu with its limit-action submenu,
all of the built program in the simulated campus under Xvfb. Run as root:

    /usr/bin/python3 tests/e2e/screenshots_traffic.py [OUTPUT_DIR]    (default: docs/)

ZEPA_BUILD_DIR picks the build, as for the scenarios.
"""

import datetime
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True

import harness  # noqa: E402

MB = 1 << 20

# (file, downloaded, uploaded): both counters in one limit state.
STATES = (
    ("monitor-green.png", 123 * MB + 400 * 1024, 45 * MB + 600 * 1024),
    ("monitor-olive.png", 668 * MB, 327 * MB + 300 * 1024),
    ("monitor-maroon.png", 712 * MB + 500 * 1024, 356 * MB),
)


def start(campus, desktop, downloaded=None, uploaded=None):
    program = harness.Program(campus, desktop)
    program.seed_credentials("demo", "demo1234")
    if downloaded is not None:
        program.seed_int64("downloaded", downloaded)
        program.seed_int64("uploaded", uploaded)
        # Today's counters: a start on a later accounting day would close them.
        program.seed_date("date", (datetime.datetime.now() - datetime.datetime(1899, 12, 30)).total_seconds() / 86400)
    program.start()
    harness.wait_for(lambda: os.path.exists(os.path.join(program.runtime, "ZEPA-Monitor")), timeout=20,
                     what="the instance socket")
    harness.wait_for(lambda: program.value("uploaded") is not None, timeout=20, what="the counters")
    time.sleep(1.5)
    return program


def monitor_window(desktop, program):
    # Message boxes and the tray icon's own window carry the same title; the size tells them apart.
    for window in program.windows():
        _, _, width, height = desktop.geometry(window)
        if desktop.window_name(window) == "ZEPA-Monitor" and width >= 280 and 200 <= height <= 353:
            return window
    return None


def shoot_monitor(campus, desktop, path, downloaded, uploaded):
    program = start(campus, desktop, downloaded, uploaded)
    if program.command("/SHOW").returncode != 0:
        raise RuntimeError("/SHOW failed:\n" + program.output())
    window = harness.wait_for(lambda: monitor_window(desktop, program), what="the monitor window")
    time.sleep(0.5)
    desktop.screenshot(path, window)
    program.close()


def shoot_tray_menu(campus, desktop, path):
    program = start(campus, desktop)
    pid = program.proc.pid
    quiet = set(desktop.popups(pid))
    if program.command("/LOGIN").returncode != 0:
        raise RuntimeError("/LOGIN failed:\n" + program.output())
    # The login's balloon would cover the menu.
    harness.wait_for(lambda: set(desktop.popups(pid)) <= quiet, timeout=20, what="the balloon to go")
    desktop.click_tray(button=3)
    menu = harness.wait_for(lambda: set(desktop.popups(pid)) - quiet, what="the menu")
    # Hovering over the submenu's caption opens it, with the pointer left where a user's would be.
    for word, x, y, w, h in harness.ocr_words(desktop, next(iter(menu))):
        if word == "Überschreitung":
            desktop.xdotool("mousemove", "--sync", str(x + w // 2), str(y + h // 2))
            break
    else:
        raise RuntimeError("no 'Bei Überschreitung' in the menu")
    harness.wait_for(lambda: len(set(desktop.popups(pid)) - quiet) >= 2, what="the submenu")
    time.sleep(0.5)
    # The menu, its submenu and the tray below them, with a margin of the desktop.
    boxes = [desktop.geometry(w) for w in desktop.popups(pid)] + [desktop.geometry(desktop.windows(klass="trayer")[0])]
    left = max(0, min(x for x, _, _, _ in boxes) - 16)
    top = max(0, min(y for _, y, _, _ in boxes) - 16)
    right = max(x + w for x, _, w, _ in boxes)
    bottom = max(y + h for _, y, _, h in boxes)
    whole = path + ".screen.png"
    desktop.screenshot(whole)
    subprocess.run(["convert", whole, "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path],
                   check=True)
    os.unlink(whole)
    program.close()


def main(argv):
    harness.require_root()
    harness.sweep_stale()
    out = os.path.abspath(argv[0] if argv else os.path.join(harness.REPO, "docs"))
    os.makedirs(out, exist_ok=True)
    desktop = harness.Desktop()
    campus = harness.Campus().up()
    try:
        for name, downloaded, uploaded in STATES:
            shoot_monitor(campus, desktop, os.path.join(out, name), downloaded, uploaded)
            print(os.path.join(out, name))
        shoot_tray_menu(campus, desktop, os.path.join(out, "tray-menu.png"))
        print(os.path.join(out, "tray-menu.png"))
    finally:
        harness.teardown_all()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
