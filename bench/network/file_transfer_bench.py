#!/usr/bin/env python3
"""A file and video frames between two `confabo-cli` sessions over a lossy home link, beside TCP.

Two network namespaces joined by lossy_switch (TUN devices forwarded in user space: a link rate, a
drop-tail queue of about a bandwidth-delay product, a fixed delay each way and random loss of
each IP packet, UDP datagrams, TCP segments and IP fragments alike). The real service and amelia
(A) run in one, bertram (B) in the other.

Files: for each loss rate a random file goes from A to B with `file bertram PATH` (B saves it with
--downloads; its SHA-256 is checked), and the same bytes go once over one TCP connection between
two small Python programs (sendfile at A, written to disk at B) through the same switch. Reported:
seconds, Mbit/s, the ratio Confabo/TCP, and CPU milliseconds per MB (utime+stime from
/proc/PID/stat) of the sending and the receiving process of each. The TCP reference uses the
congestion control named by --tcp-cc (cubic by default, what Linux uses unless told otherwise; set
on the sockets, as a namespace may not change its default);
its CPU is the programs' own, which includes the kernel's TCP work done in their system calls but
not what the kernel does in soft interrupts.

Frames: 640x480 JPEG frames (~43 KB, blurred noise from ImageMagick) at 15 a second for 10 s, from A
to bertram (encrypted, in packets of at most 1,200 bytes: "after") and to cydney, a client in B's
namespace whose key file is readable by others and so unusable (the plain single-datagram format,
cut by IP into ~40 fragments: "before"); counted are the `frame` events at the receiver.

Needs root (network namespaces, /dev/net/tun); exits 77 without. Takes about 35 minutes (with the
defaults: TCP at 5% loss alone takes over 13 minutes for 100 MB).

  sudo bench/network/file_transfer_bench.py [--build build-bench] [--megabytes 100]
      [--losses 0,1,5] [--frame-losses 0,2,5] [--delay-ms 20] [--rate-mbit 20] [--tcp-cc cubic]
      [--no-files] [--no-frames]
  (--build: where bin/confabo-cli, bin/confabo-service and bin/lossy_switch are)
"""

import argparse
import hashlib
import json
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
NET = "10.77.0"
A_ADDRESS, B_ADDRESS, C_ADDRESS = f"{NET}.1", f"{NET}.2", f"{NET}.3"
SERVICE = f"{A_ADDRESS}:8080"
TCP_PORT = 5001
FRAME_RATE, FRAME_SECONDS = 15, 10
TICKS = os.sysconf("SC_CLK_TCK")

TCP_RECEIVER = r"""
import socket, sys
listener = socket.socket()
listener.setsockopt(socket.IPPROTO_TCP, socket.TCP_CONGESTION, sys.argv[4].encode())
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind((sys.argv[1], int(sys.argv[2])))
listener.listen(1)
print("listening", flush=True)
connection, _ = listener.accept()
buffer = bytearray(1 << 20)
view = memoryview(buffer)
total = 0
with open(sys.argv[3], "wb", buffering=0) as out:
    while True:
        got = connection.recv_into(buffer)
        if not got:
            break
        out.write(view[:got])
        total += got
print("received", total, flush=True)
"""

TCP_SENDER = r"""
import socket, sys
connection = socket.socket()
connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_CONGESTION, sys.argv[4].encode())
connection.connect((sys.argv[1], int(sys.argv[2])))
with open(sys.argv[3], "rb") as source:
    connection.sendfile(source)
connection.shutdown(socket.SHUT_WR)
connection.recv(1)  # the receiver closes once it has everything
"""


def run(*args, check=True, stdin=None):
    result = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)}: {result.stderr.strip() or result.returncode}")
    return result


def cpu_seconds(pid):
    """utime + stime of a process, in seconds."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


class Lab:
    """The two namespaces, the switch between them and every process started; close() removes all."""

    def __init__(self, build, workdir, options):
        self.workdir = workdir
        tag = f"cfbfile{os.getpid()}"
        self.ns_a, self.ns_b = f"{tag}-a", f"{tag}-b"
        self.processes = []
        self.namespaces = []
        for ns in (self.ns_a, self.ns_b):
            run("ip", "netns", "add", ns)
            self.namespaces.append(ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
        tun_a, tun_b = f"cfa{os.getpid() % 100000}", f"cfb{os.getpid() % 100000}"
        self.switch = subprocess.Popen([os.path.join(build, "bin/lossy_switch"), "--tun-a", tun_a, "--tun-b", tun_b,
            "--rate-mbit", str(options.rate_mbit), "--delay-ms", str(options.delay_ms)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        if self.switch.stdout.readline().strip() != "ready":
            raise RuntimeError("lossy_switch did not start")
        for tun, ns, addresses in ((tun_a, self.ns_a, [A_ADDRESS]), (tun_b, self.ns_b, [B_ADDRESS, C_ADDRESS])):
            run("ip", "link", "set", tun, "netns", ns)
            for address in addresses:
                run("ip", "-n", ns, "addr", "add", f"{address}/24", "dev", tun)
            run("ip", "-n", ns, "link", "set", tun, "up")

    def tell(self, line):
        """A command to the switch; returns its one-line JSON answer."""
        self.switch.stdin.write(line + "\n")
        return json.loads(self.switch.stdout.readline())

    def start(self, ns, args, log_name, **popen):
        log = open(os.path.join(self.workdir, log_name), "w")
        popen.setdefault("stdout", log)
        process = subprocess.Popen(["ip", "netns", "exec", ns, *args], stderr=log, start_new_session=True, **popen)
        process.log_path = log.name
        self.processes.append(process)
        return process

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
        for process in self.processes:
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        if self.switch.poll() is None:
            self.switch.stdin.close()
            self.switch.wait(5)
        for ns in self.namespaces:
            run("ip", "netns", "del", ns, check=False)


class Session:
    """A `confabo-cli session` in a namespace: commands in, one JSON object a line out."""

    def __init__(self, lab, ns, cli, handle, address, downloads=None):
        self.lab, self.ns, self.cli, self.handle, self.address = lab, ns, cli, handle, address
        self.config_dir = os.path.join(lab.workdir, handle)
        self.downloads = downloads
        self.events = queue.Queue()

    def common(self):
        return ["--config-dir", self.config_dir, "--server", SERVICE, "--data-address", self.address]

    def register(self):
        result = run("ip", "netns", "exec", self.ns, self.cli, "register", "--handle", self.handle, "--password",
            "pw-" + self.handle, "--email", f"{self.handle}@example.org", *self.common(), check=False)
        if result.returncode != 0:
            raise RuntimeError(f"cannot register {self.handle}: {result.stderr.strip()}")

    def start(self):
        extra = ["--downloads", self.downloads] if self.downloads else []
        self.process = self.lab.start(self.ns, [self.cli, "session", "--handle", self.handle, "--password",
            "pw-" + self.handle, *extra, *self.common()], f"{self.handle}.log", stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()
        if not self.wait(lambda e: e.get("event") == "signed_in", 30):
            raise RuntimeError(f"{self.handle} did not sign in (see {self.process.log_path})")

    def _read(self):
        for line in self.process.stdout:
            try:
                event = json.loads(line)
            except ValueError:
                continue
            if isinstance(event, dict):
                self.events.put(event)

    def say(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait(self, matches, timeout):
        """The first event `matches` accepts within `timeout` seconds, or None; others are dropped."""
        deadline = time.monotonic() + timeout
        while (left := deadline - time.monotonic()) > 0:
            try:
                event = self.events.get(timeout=left)
            except queue.Empty:
                return None
            if matches(event):
                return event
        return None

    def ask(self, line, result, timeout=30):
        self.say(line)
        answer = self.wait(lambda e: e.get("result") == result, timeout)
        if answer is None:
            raise RuntimeError(f"{self.handle}: no answer to {line!r}")
        return answer

    def drain(self):
        while not self.events.empty():
            self.events.get_nowait()


def befriend(one, other):
    for me, buddy in ((one, other), (other, one)):
        if not me.ask(f"add {buddy.handle}", "add").get("ok"):
            raise RuntimeError(f"{me.handle} cannot add {buddy.handle}")
    one.ask("buddies", "buddies")
    other.ask("buddies", "buddies")


def confabo_file(lab, a, b, path, size, digest, timeout):
    """Sends the file A to B; returns (seconds, sender CPU s, receiver CPU s) or a failure text."""
    a.drain()
    b.drain()
    cpu_a, cpu_b = cpu_seconds(a.process.pid), cpu_seconds(b.process.pid)
    start = time.monotonic()
    answer = a.ask(f"file {b.handle} {path}", "file")
    if not answer.get("ok"):
        return f"refused: {answer}"
    event = b.wait(lambda e: e.get("event") in ("file", "file_failed"), timeout)
    seconds = time.monotonic() - start
    if event is None:
        a.say(f"cancel {answer.get('id')}")
        return f"not finished in {timeout:.0f} s"
    if event["event"] == "file_failed":
        return f"failed: {event.get('message')}"
    a.wait(lambda e: e.get("event") in ("file_sent", "file_failed"), 30)
    arrived = event.get("path", "")
    if event.get("sha256") != digest or os.path.getsize(arrived) != size or sha256_of(arrived) != digest:
        return "arrived damaged"
    os.remove(arrived)
    return seconds, cpu_seconds(a.process.pid) - cpu_a, cpu_seconds(b.process.pid) - cpu_b


def tcp_file(lab, path, size, digest, timeout, cc):
    """The same bytes over one TCP connection; returns (seconds, sender CPU s, receiver CPU s) or a text."""
    target = os.path.join(lab.workdir, "tcp-received")
    receiver = lab.start(lab.ns_b, [sys.executable, "-c", TCP_RECEIVER, B_ADDRESS, str(TCP_PORT), target, cc],
        "tcp-receiver.log", stdout=subprocess.PIPE, text=True)
    if receiver.stdout.readline().strip() != "listening":
        return "the TCP receiver did not start"
    start = time.monotonic()
    sender = lab.start(lab.ns_a, [sys.executable, "-c", TCP_SENDER, B_ADDRESS, str(TCP_PORT), path, cc], "tcp-sender.log")
    # Both are sampled just before they end: a process gone has no /proc entry.
    cpu = {}
    deadline = start + timeout
    line = ""
    while time.monotonic() < deadline:
        for name, process in (("sender", sender), ("receiver", receiver)):
            if process.poll() is None:
                try:
                    cpu[name] = cpu_seconds(process.pid)
                except OSError:
                    pass
        if receiver.poll() is not None:
            line = receiver.stdout.read()
            break
        time.sleep(0.05)
    seconds = time.monotonic() - start
    for process in (sender, receiver):
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    if not line.startswith("received"):
        return f"not finished in {timeout:.0f} s"
    if int(line.split()[1]) != size or sha256_of(target) != digest:
        return "arrived damaged"
    os.remove(target)
    return seconds, cpu.get("sender", 0.0), cpu.get("receiver", 0.0)


def make_jpeg(workdir):
    """A 640x480 JPEG of blurred noise of about 43 KB (the quality lowered until it fits)."""
    path = os.path.join(workdir, "frame.jpg")
    for quality in range(95, 20, -5):
        run("convert", "-size", "640x480", "xc:gray", "+noise", "Random", "-blur", "0x1.2", "-quality",
            str(quality), path)
        if os.path.getsize(path) <= 44000:
            return path
    return path


def frames(lab, sender, receiver, jpeg):
    """Frames sent at FRAME_RATE for FRAME_SECONDS; returns how many the receiver showed."""
    size = os.path.getsize(jpeg)
    receiver.drain()
    sent = FRAME_RATE * FRAME_SECONDS
    start = time.monotonic()
    for n in range(sent):
        time.sleep(max(0.0, start + n / FRAME_RATE - time.monotonic()))
        sender.say(f"frame {receiver.handle} {jpeg}")
    shown = 0
    deadline = time.monotonic() + 2
    while (event := receiver.wait(lambda e: e.get("event") == "frame", deadline - time.monotonic())) is not None:
        if event.get("from") == sender.handle and event.get("bytes") == size:
            shown += 1
    return shown, sent


def mbit(size, seconds):
    return size * 8 / seconds / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--megabytes", type=float, default=100)
    parser.add_argument("--losses", default="0,1,5", help="per cent, for the file")
    parser.add_argument("--frame-losses", default="0,2,5", help="per cent, for the frames")
    parser.add_argument("--delay-ms", type=float, default=20, help="each way")
    parser.add_argument("--rate-mbit", type=float, default=20)
    parser.add_argument("--tcp-cc", default="cubic")
    parser.add_argument("--timeout", type=float, default=1200, help="seconds one transfer may take")
    parser.add_argument("--no-files", action="store_true")
    parser.add_argument("--no-frames", action="store_true")
    options = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: the benchmark needs root (network namespaces, /dev/net/tun)")
        return SKIP
    build = os.path.abspath(options.build)
    cli = os.path.join(build, "bin/confabo-cli")
    for program in ("bin/confabo-cli", "bin/confabo-service", "bin/lossy_switch"):
        if not os.access(os.path.join(build, program), os.X_OK):
            raise SystemExit(f"{program} is not built in {build}: cmake --build {options.build} "
                "--target confabo-cli confabo-service lossy_switch")
    if not options.no_frames and not shutil.which("convert"):
        raise SystemExit("the frames need ImageMagick's convert: apt-get install imagemagick")

    workdir = tempfile.mkdtemp(prefix="confabo-filebench-")
    lab = Lab(build, workdir, options)
    try:
        service = lab.start(lab.ns_a, [os.path.join(build, "bin/confabo-service"), "--listen", SERVICE, "--db",
            os.path.join(workdir, "cfb.db")], "service.log")
        deadline = time.monotonic() + 20
        while "listening on" not in open(service.log_path).read():
            if time.monotonic() > deadline or service.poll() is not None:
                raise RuntimeError(f"the service did not start (see {service.log_path})")
            time.sleep(0.05)
        downloads = os.path.join(workdir, "downloads")
        os.mkdir(downloads)
        a = Session(lab, lab.ns_a, cli, "amelia", A_ADDRESS)
        b = Session(lab, lab.ns_b, cli, "bertram", B_ADDRESS, downloads)
        c = Session(lab, lab.ns_b, cli, "cydney", C_ADDRESS)
        for session in (a, b, c):
            session.register()
        # cydney's client has no usable key: her key file is readable by others.
        os.chmod(os.path.join(c.config_dir, "Confabo/identity.key"), 0o644)
        for session in (a, b, c):
            session.start()
        befriend(a, b)
        befriend(a, c)
        print(f"link: {options.rate_mbit:g} Mbit/s, {options.delay_ms:g} ms each way, queue "
            f"{options.rate_mbit * 1e6 / 8 * 2 * options.delay_ms / 1000 / 1000:.0f} KB; TCP: {options.tcp_cc}",
            flush=True)

        if not options.no_files:
            size = int(options.megabytes * 1e6)
            path = os.path.join(workdir, "random.bin")
            with open(path, "wb") as f:
                for _ in range(0, size, 1 << 20):
                    f.write(os.urandom(min(1 << 20, size - f.tell())))
            digest = sha256_of(path)
            mb = size / 1e6
            print(f"\nFile of {mb:g} MB, A to B")
            print(f"{'loss':>5} | {'TCP s':>7} {'Mbit/s':>7} | {'Confabo s':>9} {'Mbit/s':>7} | {'ratio':>5} | "
                f"CPU ms/MB: {'Cf send':>7} {'Cf recv':>7} {'TCP snd':>7} {'TCP rcv':>7}", flush=True)
            for loss in [float(x) for x in options.losses.split(",")]:
                lab.tell(f"loss {loss / 100}")
                lab.tell("stats")
                tcp = tcp_file(lab, path, size, digest, options.timeout, options.tcp_cc)
                tcp_stats = lab.tell("stats")
                confabo = confabo_file(lab, a, b, path, size, digest, options.timeout)
                confabo_stats = lab.tell("stats")
                lab.tell("loss 0")
                cells = [f"{loss:>4g}%"]
                cells.append(f"{tcp[0]:>7.1f} {mbit(size, tcp[0]):>7.2f}" if isinstance(tcp, tuple) else f"{tcp:>15}")
                cells.append(f"{confabo[0]:>9.1f} {mbit(size, confabo[0]):>7.2f}" if isinstance(confabo, tuple)
                    else f"{confabo:>17}")
                both = isinstance(tcp, tuple) and isinstance(confabo, tuple)
                cells.append(f"{tcp[0] / confabo[0]:>5.2f}" if both else f"{'-':>5}")
                cpu = [f"{x * 1000 / mb:>7.1f}" for x in (confabo[1:] if isinstance(confabo, tuple) else (0, 0))]
                cpu += [f"{x * 1000 / mb:>7.1f}" for x in (tcp[1:] if isinstance(tcp, tuple) else (0, 0))]
                print(" | ".join(cells) + " | CPU ms/MB: " + " ".join(cpu), flush=True)
                for name, stats in (("TCP", tcp_stats), ("Confabo", confabo_stats)):
                    print(f"        switch during {name}: A to B {stats['a_to_b']}, B to A {stats['b_to_a']}", flush=True)

        if not options.no_frames:
            jpeg = make_jpeg(workdir)
            print(f"\nFrames of 640x480, {os.path.getsize(jpeg)} bytes of JPEG, {FRAME_RATE}/s for {FRAME_SECONDS} s")
            print(f"{'loss':>5} | {'before (plain)':>14} | {'after (packets)':>15}", flush=True)
            for loss in [float(x) for x in options.frame_losses.split(",")]:
                lab.tell(f"loss {loss / 100}")
                before = frames(lab, a, c, jpeg)
                after = frames(lab, a, b, jpeg)
                lab.tell("loss 0")
                print(f"{loss:>4g}% | {before[0]:>4}/{before[1]} {100 * before[0] / before[1]:>4.0f}% | "
                    f"{after[0]:>5}/{after[1]} {100 * after[0] / after[1]:>4.0f}%", flush=True)
        for session in (a, b, c):
            session.say("quit")
        return 0
    finally:
        lab.close()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
