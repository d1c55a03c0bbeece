#!/usr/bin/python3
"""Capture benchmark: the program logged in in the simulated campus while iperf3 drives outside
traffic to the student for 10 seconds at 100 Mbit/s, at 1 Gbit/s and as fast as the simulation goes.
For each rate, side by side in one run: the program's count against the kernel's ground truth, the
capture threads' CPU seconds per GB of download against tcpdump -s 15 with the same filter capturing
the same packets, and the whole program's share of a core; then the capture threads' wake-ups while
idle. Run as root with Debian's python:

    /usr/bin/python3 bench/capture.py [BUILD_DIR]     (default: $ZEPA_BUILD_DIR or build/)

It prints; it asserts nothing. A fresh program per rate, so that its count is final (its remainder is
handed over at the exit) and equal to the truth when nothing was lost.
"""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if len(sys.argv) > 1:
    os.environ["ZEPA_BUILD_DIR"] = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import harness  # noqa: E402

SECONDS = 10
RATES = (("100 Mbit/s", "100M"), ("1 Gbit/s", "1G"), ("1.5 Gbit/s", "1500M"), ("highest", "0"))
IPERF_PORT = 5201
GB = 1e9
NOTES = (
    "off: the program's count minus the nftables ingress truth, in bytes (down and up).",
    "sk_drops: the kernel's socket drops of the program's two packet sockets (ss); the ring's own drop count",
    "  (PACKET_STATISTICS, libpcap's pcap_stats) is readable only inside the program, so 'off' shows any loss.",
    "tcpdump drop: 'dropped by kernel' as tcpdump reports it for the same packets.",
    "capture s/GB: CPU of both capture threads per 1e9 bytes of IP download (schedstat); tcpdump s/GB: the same",
    "  for tcpdump -s 15 -w /dev/null with the download filter; ratio: capture threads / tcpdump.",
    "program: the whole process's CPU over the run, in % of one core.",
    "switches/GB: the capture threads' context switches per 1e9 bytes; each synchronous hand-over blocks once.",
)


def cpu_seconds(task):
    """CPU time of one task (/proc/PID or /proc/PID/task/TID) to the nanosecond, from schedstat: the
    clock ticks of stat are too coarse for tcpdump at 100 Mbit/s."""
    try:
        with open(os.path.join(task, "schedstat")) as f:
            return int(f.read().split()[0]) / 1e9
    except OSError:
        return 0.0


def process_cpu(pid):
    return sum(cpu_seconds(f"/proc/{pid}/task/{tid}") for tid in os.listdir(f"/proc/{pid}/task"))


def capture_threads(pid):
    """The program's capture threads: the QThreads of the capture, named after their class."""
    found = []
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                if f.read().strip() == "TPcapThread":
                    found.append(int(tid))
        except OSError:
            pass
    return sorted(found)


def threads_cpu(pid, tids):
    return sum(cpu_seconds(f"/proc/{pid}/task/{tid}") for tid in tids)


def threads_switches(pid, tids):
    return sum(switches(f"/proc/{pid}/task/{tid}/status") for tid in tids)


def switches(path):
    """Voluntary plus involuntary context switches of a task: each is a wake-up or a preemption."""
    with open(path) as f:
        text = f.read()
    return sum(int(n) for n in re.findall(r"^(?:non)?voluntary_ctxt_switches:\s+(\d+)", text, re.M))


def packet_socket_drops(campus):
    """sk_drops of the packet sockets in the student's namespace (ss's skmem d). The ring's own drop
    count (PACKET_STATISTICS) is readable only by the socket's owner."""
    out = campus.run("ss", "-0", "-a", "-e", "-m", "-p").stdout.decode()
    drops = {}
    owner = None
    for line in out.splitlines():
        m = re.search(r'users:\(\("([^"]+)",pid=(\d+)', line)
        if m:
            owner = m.group(1)
        d = re.search(r"skmem:\(.*,d(\d+)\)", line)
        if d and owner:
            drops[owner] = drops.get(owner, 0) + int(d.group(1))
    return drops


class Tcpdump:
    """tcpdump -s 15 -w /dev/null with the program's download filter, in the student's namespace."""

    def __init__(self, campus, expression):
        self.stderr = tempfile.mkstemp(prefix="zepa-bench-tcpdump-")[1]
        self.proc = subprocess.Popen(campus.exec_prefix() + ["tcpdump", "-i", "eth0", "-n", "-s", "15", "-w",
                                                             "/dev/null", expression],
                                     stdout=subprocess.DEVNULL, stderr=open(self.stderr, "wb"),
                                     stdin=subprocess.DEVNULL, env=harness.clean_env())
        harness.wait_for(lambda: "listening on" in self.output(), timeout=15, what="tcpdump")

    def output(self):
        with open(self.stderr, errors="replace") as f:
            return f.read()

    def cpu(self):
        return cpu_seconds(f"/proc/{self.proc.pid}")

    def switches(self):
        return switches(f"/proc/{self.proc.pid}/status")

    def stop(self):
        """Ends it; returns (packets captured, dropped by kernel) as it reports them."""
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(timeout=15)
        text = self.output()
        os.unlink(self.stderr)
        number = lambda what: int(re.search(rf"(\d+) packets? {what}", text).group(1))
        return number("captured"), number("dropped by kernel")


def start_program(campus, desktop):
    # Logged out first: a program that finds the portal open fetches the public address at its start,
    # before the truth is zeroed.
    campus.drop()
    program = harness.Program(campus, desktop)
    program.seed_credentials("demo", "demo1234")
    program.start()
    harness.wait_for(lambda: os.path.exists(os.path.join(program.runtime, "ZEPA-Monitor")), timeout=20,
                     what="the instance socket")
    harness.wait_for(lambda: program.value("uploaded") is not None, timeout=20, what="the counters")
    harness.wait_for(lambda: len(capture_threads(program.proc.pid)) == 2, timeout=20, what="the capture threads")
    time.sleep(1)
    return program


def log_in(program, campus):
    if program.command("/LOGIN").returncode != 0 or not campus.ping():
        raise RuntimeError("the login failed:\n" + program.output())


def stop_program(program):
    program.proc.send_signal(signal.SIGTERM)
    if program.wait_exit(timeout=30) != 0:
        raise RuntimeError("the program did not end cleanly:\n" + program.output())


def measure_idle(campus, desktop, filter_text):
    program = start_program(campus, desktop)
    tcpdump = Tcpdump(campus, filter_text)
    log_in(program, campus)
    time.sleep(2)
    pid = program.proc.pid
    tids = capture_threads(pid)
    before, tcpdump_before = threads_switches(pid, tids), tcpdump.switches()
    time.sleep(SECONDS)
    result = (threads_switches(pid, tids) - before, tcpdump.switches() - tcpdump_before)
    tcpdump.stop()
    stop_program(program)
    program.close()
    return result


def measure_rate(campus, desktop, filter_text, bandwidth):
    program = start_program(campus, desktop)
    pid = program.proc.pid
    tids = capture_threads(pid)
    tcpdump = Tcpdump(campus, filter_text)
    # Zeroed with the capture open and nothing moving: from here on the truth and the program see the
    # same packets, and the program hands over only once logged in.
    campus.reset()
    log_in(program, campus)

    threads0, program0, tcpdump0 = threads_cpu(pid, tids), process_cpu(pid), tcpdump.cpu()
    switches0 = threads_switches(pid, tids)
    started = time.monotonic()
    iperf = campus.run("iperf3", "-c", campus.info["hosts"]["outside"], "-p", str(IPERF_PORT), "-R", "-t",
                       str(SECONDS), "-b", bandwidth, "-J", timeout=SECONDS + 30)
    # The last ring block comes one read time-out after the traffic.
    time.sleep(0.6)
    elapsed = time.monotonic() - started
    threads1, program1, tcpdump1 = threads_cpu(pid, tids), process_cpu(pid), tcpdump.cpu()
    switches1 = threads_switches(pid, tids)
    socket_drops = packet_socket_drops(campus)
    captured, tcpdump_dropped = tcpdump.stop()
    stop_program(program)
    truth = campus.truth()
    counted = {"down": program.int64_value("downloaded"), "up": program.int64_value("uploaded")}
    program.close()

    report = json.loads(iperf.stdout or b"{}")
    if "error" in report or iperf.returncode != 0:
        raise RuntimeError(f"iperf3 failed: {report.get('error') or iperf.stderr.decode()}")
    return {
        "goodput": report["end"]["sum_received"]["bits_per_second"] / 1e6,
        "ip_rate": truth["down"] * 8 / SECONDS / 1e6,
        "truth": truth,
        "off": {k: counted[k] - truth[k] for k in truth},
        "socket_drops": socket_drops.get("zepa-monitor", 0),
        "tcpdump_packets": captured,
        "tcpdump_dropped": tcpdump_dropped,
        "threads_per_gb": (threads1 - threads0) / (truth["down"] / GB),
        "tcpdump_per_gb": (tcpdump1 - tcpdump0) / (truth["down"] / GB),
        "core_share": (program1 - program0) / elapsed * 100,
        "switches_per_gb": (switches1 - switches0) / (truth["down"] / GB),
    }


def main():
    harness.require_root()
    harness.sweep_stale()
    desktop = harness.Desktop()
    campus = harness.Campus().up()
    outside = campus.info["namespaces"]["outside"]
    server = subprocess.Popen(["ip", "netns", "exec", outside, "iperf3", "-s", "-B", campus.info["hosts"]["outside"],
                               "-p", str(IPERF_PORT)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, env=harness.clean_env())
    try:
        time.sleep(1)
        student = campus.info["student"]
        filter_text = f"ip dst host {student} and not src net ( 198.18 or 10.0 )"
        versions = subprocess.run(["tcpdump", "--version"], capture_output=True, text=True).stdout.splitlines()
        print(f"capture benchmark: {SECONDS} s of iperf3 TCP download from the outside per rate; "
              f"{os.cpu_count()} cores; {os.uname().release}; {', '.join(versions[:2])}", flush=True)
        idle = measure_idle(campus, desktop, filter_text)
        rows = []
        for label, bandwidth in RATES:
            print(f"  measuring {label} ...", flush=True)
            rows.append((label, measure_rate(campus, desktop, filter_text, bandwidth)))
    finally:
        server.terminate()
        server.wait()
        harness.teardown_all()

    print()
    print(f"{'rate asked':<11} {'goodput':>9} {'IP rate':>9} {'truth down':>12} {'off down':>9} {'off up':>7} "
          f"{'sk_drops':>8} {'tcpdump drop':>12} {'capture s/GB':>12} {'tcpdump s/GB':>12} {'ratio':>6} "
          f"{'program':>8} {'switches/GB':>11}")
    for label, r in rows:
        ratio = r["threads_per_gb"] / r["tcpdump_per_gb"] if r["tcpdump_per_gb"] else float("inf")
        print(f"{label:<11} {r['goodput']:>6.0f} Mb {r['ip_rate']:>6.0f} Mb {r['truth']['down']:>12} "
              f"{r['off']['down']:>+9} {r['off']['up']:>+7} {r['socket_drops']:>8} "
              f"{r['tcpdump_dropped']:>12} {r['threads_per_gb']:>12.3f} {r['tcpdump_per_gb']:>12.3f} "
              f"{ratio:>6.2f} {r['core_share']:>7.2f}% {r['switches_per_gb']:>11.0f}")
    print()
    print(f"idle {SECONDS} s, logged in: capture threads {idle[0]} wake-ups (context switches), "
          f"tcpdump {idle[1]}")
    for note in NOTES:
        print(note)
    return 0


if __name__ == "__main__":
    sys.exit(main())
