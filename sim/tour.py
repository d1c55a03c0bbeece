#!/usr/bin/python3
"""Runs ZEPA-Monitor in the simulated campus: on the user's display when there is one, otherwise
under Xvfb with a short scripted tour that leaves screenshots. Ctrl-C or the tour's end takes
everything down. Started by sim/run-demo.sh after the build.

usage: tour.py [--build DIR] [--name NAME] [--out DIR] [--xvfb]
"""

import argparse
import os
import signal
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
sys.dont_write_bytecode = True

import harness  # noqa: E402

MB = 1024 * 1024


def say(text):
    print(f"[tour] {text}", flush=True)


class Tour:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.shots = 0
        self.desktop = None
        self.program = None
        self.campus = None

    def step(self, title, action):
        """Runs one step; a step that the program cannot do yet is reported and skipped."""
        say(title)
        try:
            return action()
        except Exception as e:
            say(f"  übersprungen: {e}")
            return None

    def screenshot(self, name):
        self.shots += 1
        path = os.path.join(self.out, f"{self.shots:02d}-{name}.png")
        self.desktop.screenshot(path)
        say(f"  Bildschirmfoto {path}")

    def counters(self):
        down = self.program.int64_value("downloaded")
        up = self.program.int64_value("uploaded")
        truth = self.campus.truth()
        fmt = lambda v: "-" if v is None else f"{v / MB:.2f} MB"
        say(f"  Zähler des Programms: Download {fmt(down)}, Upload {fmt(up)}")
        say(f"  Messung im Campusnetz: Download {fmt(truth['down'])}, Upload {fmt(truth['up'])}")

    def start(self, desktop):
        self.desktop = desktop
        self.campus = harness.Campus(name=self.args.name, build=self.args.build)
        say(f"Simulierter Campus '{self.args.name}' startet")
        self.campus.up()
        say("  Konto demo / demo1234 angelegt")
        self.program = harness.Program(self.campus, desktop, binary=os.path.join(self.args.build, "zepa-monitor"))
        # The demo account is stored, so that logins need no dialog; notices are announced.
        self.program.seed_credentials("demo", "demo1234")
        self.program.seed_int("s_autorztext", 1)
        say("ZEPA-Monitor startet im Namensraum des Studentenrechners (10.0.1.23)")
        self.program.start()
        harness.wait_for(lambda: self.program.value("downloaded") or not self.program.running(), timeout=30,
                         what="the program's start")
        if not self.program.running():
            raise RuntimeError("ZEPA-Monitor ist beendet:\n" + self.program.output())

    def login(self):
        result = self.program.command("/LOGIN", timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"/LOGIN endete mit {result.returncode}")
        harness.wait_for(self.campus.ping, timeout=15, what="the login")
        time.sleep(1.5)

    def traffic(self):
        self.campus.reset()
        failed = []
        for where, count, up in (("outside", 30 * MB, False), ("campus", 20 * MB, False), ("outside", 5 * MB, True)):
            result = self.campus.traffic(where, count, up=up, check=False)
            if result.returncode != 0:
                failed.append(result.stderr.decode(errors="replace").strip())
        time.sleep(2)  # the capture hands its counts over in batches
        if failed:
            raise RuntimeError("; ".join(failed))

    def show(self):
        result = self.program.command("/SHOW", timeout=30)
        if result.returncode != 0:
            raise RuntimeError(f"/SHOW endete mit {result.returncode}")
        self.desktop.wait_window("^ZEPA-Monitor$", timeout=10)
        time.sleep(0.5)

    def menu(self):
        self.desktop.click_tray(button=3)
        time.sleep(1.5)

    def tooltip(self):
        tip = harness.tray_tooltip_now(self.desktop)
        say("  Tooltip: " + " | ".join(tip.split("\n")))
        time.sleep(0.3)

    def about(self):
        harness.choose_tray_item(self.desktop, self.program.proc.pid, "Über")
        alert = self.desktop.wait_accessible(role="alert")[0]
        text = "\n".join(node["name"] for node in harness.find_accessible(alert, role="label"))
        for line in text.split("\n"):
            if "IP:" in line:
                say(f"  {line}")
        time.sleep(0.5)

    def close_box(self):
        self.desktop.key("Return")
        harness.wait_for(lambda: not harness.find_accessible(self.desktop.accessible_tree(), role="alert"),
                         what="the box to close")

    def notice(self):
        harness.choose_tray_item(self.desktop, self.program.proc.pid, "RZ Mitteilung")
        window = self.desktop.wait_window(r"^RZ Mitteilung \(RZText\)", pid=self.program.proc.pid)
        harness.wait_for(lambda: any((n.get("text") or "").startswith(" RZTEXT") for n in harness.find_accessible(
            self.desktop.accessible_tree(), role="text")), what="the notice in its window")
        time.sleep(0.5)
        return window

    def statistic(self, two_weeks=False):
        pid = self.program.proc.pid
        before = len(self.campus.requests("statistic"))
        if two_weeks:
            harness.click_accessible(self.desktop, "^Umsatzstatistik$", "combo box")
            time.sleep(0.5)
            self.desktop.key("Down", "Return")
        else:
            harness.choose_tray_item(self.desktop, pid, "Umsatzstatistik")
        self.desktop.wait_window("^Umsatzstatistik$", pid=pid)

        def chart_shown():
            # The chart is hidden while a fetch runs and shown once it has arrived.
            for window in harness.find_accessible(self.desktop.accessible_tree(), name="^Umsatzstatistik$"):
                for image in harness.find_accessible(window, role="image"):
                    if image["extents"][2] > 16 and "showing" in image["states"]:
                        return True
            return False
        harness.wait_for(lambda: len(self.campus.requests("statistic")) > before and chart_shown(), timeout=20,
                         what="the chart")
        time.sleep(0.5)
        say(f"  Statistikserver gefragt: {self.campus.requests('statistic')[-1]['query']}")

    def close_window(self, title):
        windows = self.program.windows(name=title)
        if windows:
            self.desktop.key("Escape", window=windows[0])

    def run_xvfb(self):
        os.makedirs(self.out, exist_ok=True)
        say(f"Kein Bildschirm: Rundgang unter Xvfb, Bildschirmfotos nach {self.out}")
        self.start(harness.Desktop())
        time.sleep(2)
        self.step("Start", lambda: self.screenshot("start"))
        self.step("Login mit einem zweiten Start: zepa-monitor /LOGIN", self.login)
        self.screenshot("login")
        self.step("Öffentliche Adresse im Tooltip des Tray-Symbols", self.tooltip)
        self.screenshot("tooltip")
        self.step("Über-Fenster aus dem Menü des Tray-Symbols", self.about)
        self.screenshot("about")
        self.step("Über-Fenster schließen", self.close_box)
        self.step("Download von außerhalb (30 MB) und vom Campus (20 MB), Upload nach außen (5 MB)", self.traffic)
        self.screenshot("traffic")
        self.step("Fenster zeigen: zepa-monitor /SHOW", self.show)
        self.screenshot("monitor")
        self.step("Menü des Tray-Symbols", self.menu)
        self.screenshot("menu")
        self.desktop.key("Escape")
        self.step("Zähler", self.counters)
        self.step("RZ Mitteilung aus dem Menü des Tray-Symbols", self.notice)
        self.screenshot("notice")
        self.close_window(r"^RZ Mitteilung")
        self.step("Umsatzstatistik der letzten 24 Stunden aus dem Menü des Tray-Symbols", self.statistic)
        self.screenshot("statistic-24h")
        self.step("Umsatzstatistik der letzten 2 Wochen", lambda: self.statistic(two_weeks=True))
        self.screenshot("statistic-2w")
        self.close_window("^Umsatzstatistik$")
        say("Rundgang zu Ende")

    def run_display(self):
        env_desktop = UserDisplay()
        self.start(env_desktop)
        say("ZEPA-Monitor läuft auf Ihrem Bildschirm. In einem zweiten Terminal zum Beispiel:")
        prefix = f"sudo {REPO}/sim/campusctl --name {self.args.name}"
        say(f"  {prefix} traffic outside 50000000     (Download von außerhalb)")
        say(f"  {prefix} drop                         (Zwangstrennung)")
        say(f"  {prefix} exec -- {self.program.binary} /LOGIN")
        say("Strg-C beendet alles.")
        while self.program.running():
            time.sleep(0.5)
        say("ZEPA-Monitor wurde beendet")


class UserDisplay:
    """The caller's own display; its session bus passes only when it is a unix:path= socket."""

    def env(self):
        env = harness.clean_env()
        bus = env.get("DBUS_SESSION_BUS_ADDRESS", "")
        if "unix:path=" not in bus:
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return env


def display_usable():
    if not os.environ.get("DISPLAY"):
        return False
    return subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--name", default="zepa")
    parser.add_argument("--out", default=os.path.join(REPO, "out", "tour"))
    parser.add_argument("--xvfb", action="store_true", help="the scripted tour even when a display is there")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    if os.geteuid() != 0:
        print("Als root ausführen: der simulierte Campus braucht Netzwerk-Namensräume.", file=sys.stderr)
        return 1
    signal.signal(signal.SIGINT, lambda *_: sys.exit(130))
    tour = Tour(args)
    try:
        if display_usable() and not args.xvfb:
            tour.run_display()
        else:
            tour.run_xvfb()
    finally:
        say("Simulierter Campus wird abgebaut")
        harness.teardown_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
