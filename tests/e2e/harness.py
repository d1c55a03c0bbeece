"""End-to-end harness: the built program, unmodified, in the simulated campus under Xvfb.

Everything a scenario starts is registered here and torn down in reverse order when the test's
cleanups run, at exit, on SIGTERM/SIGINT and on the harness's own time limit. Simulations left
behind by a killed run (their owner process is gone) are swept away when the next run starts.

Run with /usr/bin/python3 (pyatspi and python3-dbusmock are Debian's) and as root.
"""

import atexit
import ctypes
import json
import os
import pwd
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("ZEPA_BUILD_DIR") or os.path.join(REPO, "build")
CAMPUSCTL = os.path.join(REPO, "sim", "campusctl")
MONITOR = os.environ.get("ZEPA_MONITOR") or os.path.join(BUILD, "zepa-monitor")
ARTIFACTS = os.environ.get("ZEPA_E2E_ARTIFACTS") or os.path.join(BUILD, "e2e-artifacts")

SETTINGS_KEY = "Software\\ZEPA_Monitor"
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Helpers must not outlive a harness that was killed outright.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def clean_env():
    """The caller's environment without proxies, which must never see the campus's traffic."""
    return {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}


# --- resource registry --------------------------------------------------------------------------

_resources = []


def register(resource):
    if resource not in _resources:
        _resources.append(resource)
    return resource


def release(resource):
    if resource in _resources:
        _resources.remove(resource)


def teardown_all():
    while _resources:
        resource = _resources.pop()
        try:
            resource.close()
        except Exception as e:  # keep tearing down the rest
            print(f"harness: teardown of {resource!r} failed: {e}", file=sys.stderr)


def _on_signal(signum, frame):
    # Not sys.exit(): unittest would take SystemExit for a test's error and carry on.
    print(f"harness: ending on signal {signum}, tearing down", file=sys.stderr, flush=True)
    teardown_all()
    os._exit(128 + signum)


atexit.register(teardown_all)
signal.signal(signal.SIGTERM, _on_signal)
signal.signal(signal.SIGHUP, _on_signal)


def set_time_limit(seconds):
    """Ends the run (with teardown) before CTest's own timeout would kill it without one."""
    signal.signal(signal.SIGALRM, _on_signal)
    signal.alarm(seconds)


def wait_for(predicate, timeout=10.0, interval=0.1, what="condition"):
    """Polls predicate until it returns something true; returns that, or raises TimeoutError."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def require_root():
    if os.geteuid() != 0:
        print("the end-to-end scenarios need root (network namespaces); skipped", file=sys.stderr)
        sys.exit(77)


_serial = 0


def unique_name(prefix="e2e"):
    """A name that no other run uses: the owner's pid is part of it (see sweep_stale)."""
    global _serial
    _serial += 1
    return f"{prefix}{os.getpid()}x{_serial}"


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def sweep_stale():
    """Removes the namespaces of earlier runs whose harness process no longer exists."""
    listed = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
    seen = set()
    for line in listed.splitlines():
        m = re.match(r"^(e2e(\d+)x\d+)-(student|campus|outside|bare)\b", line)
        if not m or m.group(1) in seen or _pid_alive(int(m.group(2))):
            continue
        seen.add(m.group(1))
        if m.group(3) == "bare":
            Namespace(m.group(1) + "-bare", create=False).close()
        else:
            subprocess.run([CAMPUSCTL, "--name", m.group(1), "down"], capture_output=True)


# --- namespaces ---------------------------------------------------------------------------------


class Namespace:
    """A network namespace of the harness's own (no campus). Subclasses fill it."""

    def __init__(self, name, create=True):
        self.name = name
        if create:
            subprocess.run(["ip", "netns", "add", name], check=True)
            register(self)
            subprocess.run(["ip", "-n", name, "link", "set", "lo", "up"], check=True)
            subprocess.run(["ip", "netns", "exec", name, "sysctl", "-qw",
                            "net.ipv6.conf.all.disable_ipv6=1", "net.ipv4.ping_group_range=0 2147483647"],
                           check=True)

    def exec_prefix(self, user=None):
        prefix = ["ip", "netns", "exec", self.name]
        if user:
            entry = pwd.getpwnam(user)
            prefix += ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--init-groups", "--"]
        return prefix

    def close(self):
        pids = subprocess.run(["ip", "netns", "pids", self.name], capture_output=True, text=True).stdout.split()
        _stop_pids(int(p) for p in pids)
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True)
        release(self)

    def __repr__(self):
        return f"Namespace({self.name})"


class ThrowawayNamespace(Namespace):
    """Just a wire-like veth holding 10.0.1.23/16, for scenarios that need only the adapter."""

    def __init__(self, address="10.0.1.23/16"):
        super().__init__(unique_name() + "-bare")
        run = lambda *a: subprocess.run(["ip", "-n", self.name, *a], check=True)
        run("link", "add", "eth0", "type", "veth", "peer", "name", "peer0")
        run("addr", "add", address, "dev", "eth0")
        run("link", "set", "eth0", "up")
        run("link", "set", "peer0", "up")


class NoAdapterNamespace(Namespace):
    """Only loopback: no adapter with a 10.0.x.x address."""

    def __init__(self):
        super().__init__(unique_name() + "-bare")


def _stop_pids(pids, grace=2.0):
    pids = {p for p in pids if p != os.getpid()}
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + grace
    while pids and time.monotonic() < deadline:
        pids = {p for p in pids if _pid_alive(p) and not _is_zombie(p)}
        time.sleep(0.02)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _is_zombie(pid):
    try:
        if os.waitpid(pid, os.WNOHANG)[0] == pid:
            return True
    except ChildProcessError:
        pass
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(") ", 1)[1].startswith("Z")
    except OSError:
        return True


# --- the simulated campus -----------------------------------------------------------------------


class Campus:
    """sim/campusctl under a name of this run's own; up() registers the teardown."""

    def __init__(self, name=None, build=BUILD):
        self.name = name or unique_name()
        self.build = build
        self.info = None

    def ctl(self, *args, check=True, timeout=120):
        result = subprocess.run([CAMPUSCTL, "--name", self.name, "--build", self.build, *args],
                                capture_output=True, timeout=timeout, env=clean_env())
        if check and result.returncode != 0:
            raise RuntimeError(f"campusctl {' '.join(args)} failed: {result.stderr.decode(errors='replace')}")
        return result

    def up(self):
        register(self)
        self.ctl("up")
        self.info = json.loads(self.ctl("info").stdout)
        return self

    def close(self):
        self.ctl("down", check=False)
        release(self)

    down = close

    def __enter__(self):
        return self.up()

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return f"Campus({self.name})"

    @property
    def student_ns(self):
        return f"{self.name}-student"

    def exec_prefix(self, user=None):
        return [CAMPUSCTL, "--name", self.name, "--build", self.build, "exec"] + (
            ["--user", user] if user else []) + ["--"]

    def run(self, *command, user=None, timeout=60, check=False):
        """Runs a command in the student's namespace and returns the CompletedProcess (bytes)."""
        return subprocess.run(self.exec_prefix(user) + list(command), capture_output=True, timeout=timeout,
                              env=clean_env(), check=check)

    def curl(self, url, *options, timeout=10):
        """curl in the student's namespace with certificate checks on; (exit code, body bytes)."""
        result = self.run("curl", "-sS", "--max-time", str(timeout), *options, url, timeout=timeout + 10)
        return result.returncode, result.stdout

    def login(self, user="demo", password="demo1234"):
        return self.curl("https://login.zepa.example/cgi-bin/laklogin",
                         "--data-raw", f"username={user}&password={password}&action=Login")

    def ping(self, host="198.18.0.1"):
        """One ICMP echo with the 100 ms the program waits; True when answered."""
        return self.run("ping", "-n", "-c1", "-W0.1", host, timeout=10).returncode == 0

    def reset(self):
        self.ctl("reset")

    def drop(self):
        self.ctl("drop")

    def notice(self, text):
        self.ctl("notice", text)

    def account(self, *args):
        self.ctl("account", *args)

    def fail(self, server, mode):
        self.ctl("fail", server, mode)

    def traffic(self, where, count, up=False, check=True):
        return self.ctl("traffic", where, str(count), *(["--up"] if up else []), check=check)

    def truth(self):
        return json.loads(self.ctl("truth").stdout)

    def requests(self, server=None):
        out = self.ctl("requests", *([server] if server else [])).stdout.decode()
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def log(self):
        try:
            with open(self.info["log"], errors="replace") as f:
                return f.read()
        except (OSError, TypeError):
            return ""


# --- the desktop --------------------------------------------------------------------------------


def _end_processes(procs):
    """Ends processes started in order, the last first, each given 3 s before it is killed."""
    for proc in reversed(procs):
        if proc.poll() is None:
            proc.terminate()
    for proc in reversed(procs):
        try:
            proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Desktop:
    """Xvfb on a free display, trayer as the XEmbed tray host and a session bus on a unix:path=
    socket (abstract sockets stay in the namespace they were made in)."""

    def __init__(self, size="1280x800", tray=True, user=None):
        self.dir = tempfile.mkdtemp(prefix="zepa-desktop-")
        os.chmod(self.dir, 0o755)
        self.user = user
        self.procs = []
        register(self)
        self.display = self._start_xvfb(size)
        self.runtime = os.path.join(self.dir, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.bus_address = self._start_bus()
        # Started now, so that every program finds the accessibility bus at its own start.
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.a11y.Bus.GetAddress"], env=self.env(), capture_output=True, timeout=30)
        # A plain blue-grey background instead of black, for screenshots and OCR.
        subprocess.run(["display", "-window", "root", "-size", "8x8", "xc:#4f6d8a"], env=self.env(),
                       capture_output=True, timeout=30)
        if tray:
            self._spawn(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                         "--height", "32", "--SetDockType", "true", "--SetPartialStrut", "true",
                         "--transparent", "false", "--tint", "0xd0d0d0"], "trayer")
            wait_for(lambda: self.windows(klass="trayer"), what="the tray host")

    def __repr__(self):
        return f"Desktop({self.display})"

    def _spawn(self, argv, name, **kwargs):
        log = open(os.path.join(self.dir, name + ".log"), "wb")
        proc = subprocess.Popen(argv, stdout=kwargs.pop("stdout", log), stderr=log, stdin=subprocess.DEVNULL,
                                env=kwargs.pop("env", self.env()), preexec_fn=_die_with_parent, **kwargs)
        self.procs.append(proc)
        return proc

    def _start_xvfb(self, size):
        read, write = os.pipe()
        self.display = None
        self._spawn(["Xvfb", "-displayfd", str(write), "-screen", "0", f"{size}x24", "-nolisten", "tcp",
                     "-noreset"], "xvfb", pass_fds=(write,), env=clean_env())
        os.close(write)
        # Xvfb writes the number and the line feed separately, and dies when the pipe is closed
        # in between: read up to the line feed.
        text, deadline = b"", time.monotonic() + 15
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read], [], [], 1)
            chunk = os.read(read, 32) if ready else b""
            if ready and not chunk:
                break
            text += chunk
        os.close(read)
        number = text.decode().strip()
        if not number.isdigit():
            raise RuntimeError("Xvfb did not start")
        return f":{number}"

    def _start_bus(self):
        socket_path = os.path.join(self.dir, "bus")
        argv = ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address=unix:path={socket_path}"]
        env = self.env(bus=False)
        env["XDG_RUNTIME_DIR"] = self.runtime  # the accessibility bus puts its socket here
        if self.user:
            entry = pwd.getpwnam(self.user)
            os.chown(self.dir, entry.pw_uid, entry.pw_gid)
            os.chown(self.runtime, entry.pw_uid, entry.pw_gid)
            argv = ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--init-groups", "--"] + argv
        self._spawn(argv, "dbus", env=env)
        wait_for(lambda: os.path.exists(socket_path), what="the session bus")
        return f"unix:path={socket_path}"

    def env(self, bus=True):
        env = clean_env()
        env.pop("WAYLAND_DISPLAY", None)
        if self.display:
            env["DISPLAY"] = self.display
        if bus and getattr(self, "bus_address", None):
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    def close(self):
        _end_processes(self.procs)
        shutil.rmtree(self.dir, ignore_errors=True)
        release(self)

    # --- looking at the screen

    def xdotool(self, *args, check=False):
        result = subprocess.run(["xdotool", *args], capture_output=True, text=True, env=self.env(), timeout=30)
        if check and result.returncode != 0:
            raise RuntimeError(f"xdotool {' '.join(args)}: {result.stderr.strip()}")
        return result.stdout

    def windows(self, name=None, klass=None, pid=None, visible=True):
        """Window ids matching a title regex, a class regex and/or a process id."""
        args = ["search"] + (["--onlyvisible"] if visible else []) + ["--all"]
        if pid:
            args += ["--pid", str(pid)]
        if name is not None:
            args += ["--name", name]
        if klass is not None:
            args += ["--class", klass]
        if name is None and klass is None:
            args += ["--name", ""]
        return [int(w) for w in self.xdotool(*args).split()]

    def window_name(self, window):
        return self.xdotool("getwindowname", str(window)).rstrip("\n")

    def titles(self, pid=None):
        return [self.window_name(w) for w in self.windows(pid=pid)]

    def wait_window(self, name, timeout=15, **kwargs):
        return wait_for(lambda: self.windows(name=name, **kwargs), timeout=timeout, what=f"a window {name!r}")[0]

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        out = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                             env=self.env()).stdout
        value = lambda key: int(re.search(rf"{key}:\s+(-?\d+)", out).group(1))
        return value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")

    def popups(self, pid=None):
        """Visible override-redirect windows (menus, balloons, tooltips), of one process or all."""
        found = []
        for window in self.windows(pid=pid):
            info = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                                  env=self.env()).stdout
            if "Override Redirect State: yes" in info:
                found.append(window)
        return found

    def menu_text(self, pid=None):
        """What OCR reads in the open popup windows. Qt leaves popup menus out of the
        accessibility tree, so menus are read from the screen."""
        return "\n".join(self.ocr(window=w) for w in self.popups(pid))

    def balloon(self, timeout=10):
        """(title, text) of the balloon shown now, from the accessibility tree."""
        def find():
            for node in find_accessible(self.accessible_tree(), role="filler"):
                labels = [c["name"] for c in node.get("children", []) if c.get("role") == "label"]
                buttons = [c for c in node.get("children", []) if c.get("role") == "push button"]
                if len(labels) == 2 and buttons:
                    return tuple(labels)
            return None
        return wait_for(find, timeout=timeout, interval=0.3, what="a balloon")

    def tray_icon_position(self):
        """The middle of the first icon docked in the tray host."""
        tray = self.windows(klass="trayer")[0]
        x, y, w, h = self.geometry(tray)
        return x + min(w, h) // 2, y + h // 2

    def click(self, x, y, button=1, repeat=1):
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "--repeat", str(repeat), "--delay", "80",
                     str(button))

    def click_tray(self, button=1, repeat=1):
        self.click(*self.tray_icon_position(), button=button, repeat=repeat)

    def tray_tooltip(self, timeout=20):
        """Hovers over the tray icon until its tooltip shows; returns the tooltip's text."""
        def hover():
            x, y = self.tray_icon_position()
            self.xdotool("mousemove", "--sync", "0", "0")
            self.xdotool("mousemove", "--sync", str(x), str(y))
            try:
                tips = wait_for(lambda: find_accessible(self.accessible_tree(), role="tool tip"), timeout=3,
                                interval=0.3)
            except TimeoutError:
                return None
            return tips[0]["name"]
        return wait_for(hover, timeout=timeout, interval=0.5, what="the tray icon's tooltip")

    def key(self, *keys, window=None):
        # Focus first and type through XTEST: with --window, a window that closes on the key press makes
        # xdotool fail before the release, and the key then stays held down for every later window.
        if window:
            self.xdotool("windowfocus", "--sync", str(window))
        self.xdotool("key", *keys)

    def screenshot(self, path, window=None):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        subprocess.run(["import", "-window", str(window) if window else "root", path], env=self.env(),
                       check=True, capture_output=True, timeout=30)
        return path

    def ocr(self, window=None, lang="deu"):
        """The text tesseract reads on the screen (or in one window), scaled up for small fonts."""
        shot = os.path.join(self.dir, f"ocr-{time.monotonic_ns()}.png")
        self.screenshot(shot, window)
        big = shot + ".big.png"
        subprocess.run(["convert", shot, "-resize", "300%", "-colorspace", "Gray", big], check=True)
        text = subprocess.run(["tesseract", big, "-", "-l", lang], capture_output=True, text=True).stdout
        os.unlink(shot)
        os.unlink(big)
        return text

    def accessible_tree(self, timeout=30):
        """The accessibility tree of every application on the desktop, as nested dicts with the
        keys role, name, description, text, states, extents and children (see a11y_dump.py)."""
        env = self.env()
        env["XDG_RUNTIME_DIR"] = self.runtime
        result = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "a11y_dump.py")], capture_output=True,
                                text=True, env=env, timeout=timeout)
        if result.returncode != 0:
            raise RuntimeError(f"accessibility dump failed: {result.stderr.strip()}")
        return json.loads(result.stdout)

    def wait_accessible(self, timeout=20, **match):
        """Waits until find_accessible(tree, **match) finds something; returns the matches."""
        return wait_for(lambda: find_accessible(self.accessible_tree(), **match), timeout=timeout, interval=0.5,
                        what=f"an accessible {match}")


def find_accessible(tree, name=None, role=None, text=None):
    """Every node of an accessible_tree() matching a name regex, a role and/or a text regex."""
    found = []
    nodes = tree if isinstance(tree, list) else [tree]
    while nodes:
        node = nodes.pop(0)
        if ((name is None or re.search(name, node.get("name") or ""))
                and (role is None or node.get("role") == role)
                and (text is None or re.search(text, node.get("text") or ""))):
            found.append(node)
        nodes = node.get("children", []) + nodes
    return found


# --- the program --------------------------------------------------------------------------------


class Program:
    """The built zepa-monitor inside a namespace (a Campus or a Namespace), with a fresh home and
    XDG directories; DISPLAY and the session bus pass through."""

    def __init__(self, where, desktop=None, binary=MONITOR, user=None, env=None):
        if not os.access(binary, os.X_OK):
            raise FileNotFoundError(f"{binary} not built")
        self.where = where
        self.desktop = desktop
        self.binary = binary
        self.user = user
        self.extra_env = dict(env or {})
        self.root = tempfile.mkdtemp(prefix="zepa-home-")
        self.home = os.path.join(self.root, "home")
        self.config = os.path.join(self.home, ".config")
        self.data = os.path.join(self.home, ".local", "share")
        self.runtime = os.path.join(self.root, "runtime")
        for d in (self.home, self.config, self.data):
            os.makedirs(d, exist_ok=True)
        os.makedirs(self.runtime, mode=0o700)
        os.chmod(self.root, 0o755)
        self.proc = None
        self.logs = []
        register(self)

    def __repr__(self):
        return f"Program({self.binary})"

    @property
    def store(self):
        return os.path.join(self.config, "ZEPA_Monitor", "registry.db")

    @property
    def log_file(self):
        return os.path.join(self.data, "ZEPA_Monitor", "ZEPA_Monitor.log")

    def env(self):
        env = self.desktop.env() if self.desktop else clean_env()
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_DATA_HOME": self.data,
            "XDG_RUNTIME_DIR": self.runtime,
            "QT_QPA_PLATFORM": "xcb",
            # Qt exposes its widgets to the accessibility bus only when asked.
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
        })
        if self.user:
            entry = pwd.getpwnam(self.user)
            env.update({"USER": self.user, "LOGNAME": self.user})
            _chown_tree(self.root, entry.pw_uid, entry.pw_gid)
        env.update(self.extra_env)
        return env

    def command_line(self, *args, prefix=()):
        return self.where.exec_prefix(self.user) + list(prefix) + [self.binary, *args]

    def _log(self, name):
        path = os.path.join(self.root, f"{name}-{len(self.logs)}.log")
        self.logs.append(path)
        return open(path, "wb")

    def start(self, *args, prefix=()):
        """Starts the first instance. prefix goes before the binary (e.g. faketime)."""
        log = self._log("program")
        self.proc = subprocess.Popen(self.command_line(*args, prefix=prefix), env=self.env(), stdout=log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        return self.proc

    def command(self, switch, timeout=60):
        """A second start with a command switch ("/LOGIN", "/SHOW", ...); returns its CompletedProcess."""
        return subprocess.run(self.command_line(switch), env=self.env(), capture_output=True, timeout=timeout,
                              stdin=subprocess.DEVNULL)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def stop(self, timeout=10):
        if self.running():
            self.proc.terminate()
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def close(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)
        release(self)

    def output(self):
        text = ""
        for path in self.logs:
            try:
                with open(path, errors="replace") as f:
                    text += f.read()
            except OSError:
                pass
        return text

    def windows(self, **kwargs):
        return self.desktop.windows(pid=self.proc.pid, **kwargs)

    # --- the settings store, through the sqlite3 command-line tool

    def sql(self, statement):
        result = subprocess.run(["sqlite3", "-json", "-cmd", ".timeout 5000", self.store, statement], capture_output=True, text=True,
                                timeout=30)
        if result.returncode != 0:
            raise RuntimeError(f"sqlite3: {result.stderr.strip()}")
        return json.loads(result.stdout) if result.stdout.strip() else []

    def values(self):
        """{name: (type, bytes)} of every value under the program's key; {} without a store."""
        if not os.path.exists(self.store):
            return {}
        rows = self.sql("SELECT name, type, hex(data) AS data FROM reg_values "
                        f"WHERE key = '{SETTINGS_KEY}' COLLATE NOCASE")
        return {row["name"]: (row["type"], bytes.fromhex(row["data"])) for row in rows}

    def value(self, name):
        return self.values().get(name)

    def int_value(self, name):
        v = self.value(name)
        return None if v is None else struct.unpack("<i", v[1])[0]

    def int64_value(self, name):
        v = self.value(name)
        return None if v is None else struct.unpack("<q", v[1])[0]

    def date_value(self, name):
        v = self.value(name)
        return None if v is None else struct.unpack("<d", v[1])[0]

    def seed(self, name, type_, data):
        """Writes one value as the program would, creating the store with its schema when needed."""
        os.makedirs(os.path.dirname(self.store), mode=0o700, exist_ok=True)
        self.sql("CREATE TABLE IF NOT EXISTS reg_values (key TEXT NOT NULL COLLATE NOCASE, "
                 "name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL, "
                 "PRIMARY KEY (key, name))")
        self.sql(f"INSERT OR REPLACE INTO reg_values VALUES ('{SETTINGS_KEY}', '{name}', {int(type_)}, "
                 f"X'{bytes(data).hex()}')")
        os.chmod(self.store, 0o600)
        if self.user:
            entry = pwd.getpwnam(self.user)
            _chown_tree(self.root, entry.pw_uid, entry.pw_gid)

    def seed_int(self, name, value):
        self.seed(name, REG_DWORD, struct.pack("<i", value))

    def seed_int64(self, name, value):
        self.seed(name, REG_BINARY, struct.pack("<q", value))

    def seed_date(self, name, days):
        self.seed(name, REG_BINARY, struct.pack("<d", days))

    def seed_credentials(self, login, password):
        loginid, passwd = encode_credentials(login.encode("cp1252"), password.encode("cp1252"))
        self.seed("s_loginid", REG_BINARY, loginid)
        self.seed("s_passwd", REG_BINARY, passwd)

    def read_log(self):
        try:
            with open(self.log_file, "rb") as f:
                return f.read()
        except OSError:
            return None


def _chown_tree(root, uid, gid):
    for dirpath, dirnames, filenames in os.walk(root):
        os.chown(dirpath, uid, gid)
        for name in filenames:
            os.chown(os.path.join(dirpath, name), uid, gid)


def scramble(buffer, other):
    """The store's byte scrambling: XOR with a seeded linear congruential stream and other."""
    state = len(buffer)
    state = (state * 22695477 + 1) & 0xFFFFFFFF  # the seeding step's output is dropped
    out = bytearray(buffer)
    for i in range(len(out)):
        state = (state * 22695477 + 1) & 0xFFFFFFFF
        out[i] ^= ((state >> 16) & 0x7FFF) % 256 ^ other[i]
    return bytes(out)


def encode_credentials(login, password):
    """The two 32-byte values "s_loginid" and "s_passwd" for a login ID and a password."""
    plain_l = (login + b"\0" + b"\x55" * 32)[:32]
    plain_p = (password + b"\0" + b"\xaa" * 32)[:32]
    p = scramble(plain_p, plain_l)
    loginid = scramble(plain_l, p)
    return loginid, p


def days_to_datetime(days):
    """The store's date-time (days since 1899-12-30, local time) as a naive datetime."""
    import datetime
    return datetime.datetime(1899, 12, 30) + datetime.timedelta(days=days)


def artifacts_dir(test_id):
    path = os.path.join(ARTIFACTS, re.sub(r"[^A-Za-z0-9_.-]", "_", test_id))
    os.makedirs(path, exist_ok=True)
    return path


# --- menus by OCR, balloons as they come, a logind stand-in -------------------------------------


def ocr_words(desktop, window=None, lang="deu"):
    """The words tesseract reads in a window (or on the screen) as (word, x, y, width, height) in
    screen coordinates, so that a scenario can click what a menu shows."""
    shot = os.path.join(desktop.dir, f"ocr-{time.monotonic_ns()}.png")
    desktop.screenshot(shot, window)
    big = shot + ".big.png"
    subprocess.run(["convert", shot, "-resize", "300%", "-colorspace", "Gray", big], check=True)
    tsv = subprocess.run(["tesseract", big, "-", "-l", lang, "tsv"], capture_output=True, text=True).stdout
    os.unlink(shot)
    os.unlink(big)
    left, top = desktop.geometry(window)[:2] if window else (0, 0)
    words = []
    for line in tsv.splitlines()[1:]:
        field = line.split("\t")
        if len(field) == 12 and field[0] == "5" and field[11].strip():
            x, y, w, h = (int(v) // 3 for v in field[6:10])
            words.append((field[11].strip(), left + x, top + y, w, h))
    return words


def click_menu_item(desktop, word, pid=None, timeout=10):
    """Clicks the middle of the first word in pid's open popups that equals word (a submenu's
    caption opens the submenu). Returns the popup that held it."""
    def find():
        for popup in desktop.popups(pid):
            for text, x, y, w, h in ocr_words(desktop, popup):
                if text == word:
                    return popup, x + w // 2, y + h // 2
        return None
    popup, x, y = wait_for(find, timeout=timeout, interval=0.3, what=f"a menu item {word!r}")
    desktop.click(x, y)
    return popup


_BALLOON_LISTENER = r"""
import json, sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

def on_showing(event):
    # A balloon is a filler with an icon, the title label, a close button and the text label; it is
    # complete when its last label shows.
    if not event.detail1:
        return
    try:
        node = event.source
        if node.get_role_name() != "label":
            return
        parent = node.get_parent()
        children = [parent.get_child_at_index(i) for i in range(parent.get_child_count())]
        labels = [c for c in children if c.get_role_name() == "label"]
        if len(labels) != 2 or not any(c.get_role_name() == "push button" for c in children):
            return
        if node.get_index_in_parent() != labels[1].get_index_in_parent():
            return
        print(json.dumps([labels[0].get_name(), labels[1].get_name()]), flush=True)
    except Exception:
        pass

listener = Atspi.EventListener.new(on_showing)
listener.register("object:state-changed:showing")
print(json.dumps("ready"), flush=True)
Atspi.event_main()
"""


class BalloonWatch:
    """Every balloon shown on the desktop from now on, in order, as (title, text). Read from the
    accessibility bus's events, so a balloon that the next one replaces at once is still seen."""

    def __init__(self, desktop):
        env = desktop.env()
        env["XDG_RUNTIME_DIR"] = desktop.runtime
        self.path = os.path.join(desktop.dir, f"balloons-{time.monotonic_ns()}.jsonl")
        with open(self.path, "wb") as out:
            self.proc = subprocess.Popen(["/usr/bin/python3", "-c", _BALLOON_LISTENER], env=env, stdout=out,
                                         stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                         preexec_fn=_die_with_parent)
        register(self)
        wait_for(lambda: self._lines()[:1] == ["ready"], timeout=30, what="the balloon listener")

    def _lines(self):
        with open(self.path) as f:
            return [json.loads(line) for line in f if line.endswith("\n")]

    def balloons(self):
        return [tuple(entry) for entry in self._lines()[1:]]

    def wait(self, expected, timeout=20):
        """Waits until a balloon with this title (or this (title, text)) has been shown; returns all
        balloons so far."""
        match = (lambda b: b == tuple(expected)) if isinstance(expected, tuple) else (lambda b: b[0] == expected)
        return wait_for(lambda: any(match(b) for b in self.balloons()) and self.balloons(), timeout=timeout,
                        interval=0.2, what=f"a balloon {expected!r}")

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=3)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        release(self)

    def __repr__(self):
        return "BalloonWatch()"


class LogindMock:
    """python3-dbusmock's logind on a private bus (a unix:path= socket, seen from every namespace).
    Pass `address` as DBUS_SYSTEM_BUS_ADDRESS; `calls()` lists what arrived instead of a reboot."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="zepa-logind-")
        os.chmod(self.dir, 0o755)
        self.address = "unix:path=" + os.path.join(self.dir, "system_bus_socket")
        self.log = os.path.join(self.dir, "calls.log")
        self.procs = []
        register(self)
        self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address={self.address}"], "bus")
        wait_for(lambda: os.path.exists(self.address[len("unix:path="):]), what="the private system bus")
        env = clean_env()
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self.address
        self._spawn(["/usr/bin/python3", "-m", "dbusmock", "--system", "-t", "logind", "-l", self.log], "mock",
                    env=env)
        wait_for(self._owned, timeout=30, interval=0.2, what="the logind stand-in")

    def _spawn(self, argv, name, env=None):
        with open(os.path.join(self.dir, name + ".out"), "wb") as out:
            self.procs.append(subprocess.Popen(argv, env=env or clean_env(), stdout=out, stderr=subprocess.STDOUT,
                                               stdin=subprocess.DEVNULL, preexec_fn=_die_with_parent))

    def _owned(self):
        result = subprocess.run(["dbus-send", f"--bus={self.address}", "--print-reply",
                                 "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.login1"],
                                capture_output=True, text=True, timeout=10)
        return "boolean true" in result.stdout

    def calls(self):
        """[(method, arguments as dbusmock logs them)], e.g. [("Reboot", "False")]."""
        try:
            with open(self.log) as f:
                lines = f.read().splitlines()
        except OSError:
            return []
        calls = []
        for line in lines:
            parts = line.split(" ", 2)  # time, method, arguments
            if len(parts) >= 2:
                calls.append((parts[1], parts[2] if len(parts) > 2 else ""))
        return calls

    def close(self):
        _end_processes(self.procs)
        shutil.rmtree(self.dir, ignore_errors=True)
        release(self)

    def __repr__(self):
        return f"LogindMock({self.address})"


# --- balloons, typing, the tray menu and a jumping clock ----------------------------------------


def balloons_now(desktop):
    """[(title, text, extents)] of the balloons on the screen now, from the accessibility tree."""
    found = []
    for node in find_accessible(desktop.accessible_tree(), role="filler"):
        labels = [c["name"] for c in node.get("children", []) if c.get("role") == "label"]
        buttons = [c for c in node.get("children", []) if c.get("role") == "push button"]
        if len(labels) == 2 and buttons:
            found.append((labels[0], labels[1], node.get("extents")))
    return found


def wait_balloon(desktop, title, timeout=30):
    """(title, text) of the balloon with this title, once it is on the screen."""
    def find():
        return next(((t, text) for t, text, _ in balloons_now(desktop) if t == title), None)
    return wait_for(find, timeout=timeout, interval=0.3, what=f"a balloon {title!r}")


def click_balloon(desktop, title, timeout=30):
    """Clicks the middle of the balloon with this title."""
    def find():
        return next((e for t, _, e in balloons_now(desktop) if t == title and e), None)
    x, y, w, h = wait_for(find, timeout=timeout, interval=0.3, what=f"a balloon {title!r}")
    desktop.click(x + w // 2, y + h // 2)


def type_text(desktop, text, window=None):
    """Types text through XTEST into the focused widget (of window, focused first)."""
    if window:
        desktop.xdotool("windowfocus", "--sync", str(window))
    desktop.xdotool("type", "--delay", "40", text)


# The tray menu's items in their order; "Umsatzstatistik" is disabled (and skipped by the arrow
# keys) while logged out.
TRAY_ITEMS = ("Monitor", "Umsatzstatistik", "RZ Mitteilung", "LogInOut", "Bei Überschreitung",
              "Einstellungen", "Über", "Beenden")


def choose_tray_item(desktop, pid, item, logged_in=True):
    """Opens the tray menu with a right click and chooses item with the arrow keys and Return."""
    items = [i for i in TRAY_ITEMS if logged_in or i != "Umsatzstatistik"]
    desktop.click_tray(button=3)
    wait_for(lambda: desktop.popups(pid), timeout=10, what="the tray menu")
    time.sleep(0.3)
    desktop.key(*(["Down"] * (items.index(item) + 1)), "Return")


FAKETIME_LIBRARY = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"


class JumpingClock:
    """libfaketime through FAKETIME_TIMESTAMP_FILE: the wall and the monotonic clock of the program
    jump when jump() rewrites the file, and otherwise run at their real pace, so time-outs keep their
    length. Starts at start (a naive local datetime) or at the real time. Only for a binary without
    file capabilities (the loader ignores LD_PRELOAD for those)."""

    def __init__(self, directory, start=None):
        import datetime
        self.path = os.path.join(directory, "faketime.rc")
        self.offset = 0 if start is None else int((start - datetime.datetime.now()).total_seconds())
        self._write()

    def _write(self):
        with open(self.path + ".new", "w") as f:
            f.write(f"{self.offset:+d}\n")
        os.chmod(self.path + ".new", 0o644)
        os.replace(self.path + ".new", self.path)

    def prefix(self):
        """Goes before the binary: Program.start(prefix=clock.prefix())."""
        # The file is read again at most every second.
        return ["env", f"LD_PRELOAD={FAKETIME_LIBRARY}", f"FAKETIME_TIMESTAMP_FILE={self.path}",
                "FAKETIME_CACHE_DURATION=1"]

    def jump(self, seconds):
        self.offset += int(seconds)
        self._write()


def tray_tooltip_now(desktop, timeout=20):
    """The tray icon's tooltip as it reads now. The pointer first leaves the icon until no tooltip
    shows: one still up from an earlier hover keeps its old text."""
    def showing():
        return [t for t in find_accessible(desktop.accessible_tree(), role="tool tip")
                if "showing" in t.get("states", [])]

    def hover():
        desktop.xdotool("mousemove", "--sync", "0", "0")
        try:
            wait_for(lambda: not showing(), timeout=5, interval=0.3)
            x, y = desktop.tray_icon_position()
            # Entering alone may start no tooltip: a motion inside the icon does.
            desktop.xdotool("mousemove", "--sync", str(x - 1), str(y))
            time.sleep(0.1)
            desktop.xdotool("mousemove", "--sync", str(x), str(y))
            return wait_for(showing, timeout=4, interval=0.3)[0]["name"]
        except TimeoutError:
            return None
    return wait_for(hover, timeout=timeout, interval=0.2, what="the tray icon's tooltip")


def click_accessible(desktop, window, role, name=None, timeout=20):
    """Clicks the middle of the control (role, name regex) inside the window titled window (regex)."""
    def find():
        for top in find_accessible(desktop.accessible_tree(), name=window):
            for node in find_accessible(top, role=role, name=name):
                if node.get("extents") and "showing" in node.get("states", []):
                    return node["extents"]
        return None
    x, y, w, h = wait_for(find, timeout=timeout, interval=0.3, what=f"a {role} {name!r} in {window!r}")
    desktop.click(x + w // 2, y + h // 2)


class CampusScenario(unittest.TestCase):
    """A scenario on a desktop of its own in a simulated campus of its own; screenshots of a test's
    end land in its artifacts folder."""

    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.campus = Campus().up()
        self.addCleanup(self.campus.close)
        self.artifacts = artifacts_dir(self.id())

    def program(self):
        program = Program(self.campus, self.desktop)
        self.addCleanup(program.close)
        self.addCleanup(lambda: self.desktop.screenshot(os.path.join(self.artifacts, "end.png")))
        return program
