#!/usr/bin/env python3
"""Buddies through the TURN relay: the real service handing out relay credentials, coturn on the
lab's internet, and two `confabo-cli` sessions (amelia as A, bertram as B) behind routers that
pick a new port for each destination (`masquerade fully-random`), or in a home that lets out only
TCP to port 443 (the relay then reached over TCP, or TLS with a certificate the test makes). For
each case: whether a message and a frame arrive each way, which path the conversation took
("direct" or "through the relay"), and video A to B at a steady rate for 10 s (frames the size
VP8 sends at 640x480, 30 a second; in the cases of --heavy-video also JPEG-sized ones, 15 a
second): frames a second received, and the CPU coturn spent per Mbit/s against the sending
client's in the same seconds (a measurement, not judged). In one case the relay in use is killed
mid-conversation and both must go on through the other. Then coturn itself: a forged and an expired credential are refused,
a good one is not.
Prints one table row per case; exits 1 on any fault, 77 (skipped) without root, the network tools
or coturn.

usage: relay_lab.py --cli PATH --service PATH --jpeg FILE [--cases 1,2,3,4,5,6] [--wait SECONDS]
    [--heavy-video 1]
"""

import argparse
import base64
import hashlib
import hmac
import os
import re
import secrets
import signal
import socket
import struct
import sys
import tempfile
import time

import netlab
from cli_session import CliSession
from reach_lab import exchange, cell

SKIP = 77
SERVICE_PORT = 8080
TURN_PORT = 3478
STREAM_PORT = 443
REALM = "confabo.lab"
RELAY = "through the relay"
DIRECT = "direct"
RANDOM_PORTS = "masquerade fully-random"
ONLY_443 = "only tcp 443"


def write_private(path, text):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(text)


def start_relay(lab, workdir, secret, name="turn", streams=False):
    """coturn on the internet, with the shared secret in its own configuration (mode 0600). With
    streams it also takes TCP on 3478 and TCP and TLS on 443, with a throw-away certificate for its
    address (its CA file is workdir/<name>-cert.pem)."""
    ns, address = lab.public_host(name)
    config = os.path.join(workdir, f"{name}server.conf")
    lines = [f"listening-ip={address}", f"relay-ip={address}", f"listening-port={TURN_PORT}",
        "min-port=49152", "max-port=49352", "use-auth-secret", f"static-auth-secret={secret}",
        f"realm={REALM}", "fingerprint", "no-dtls", "no-cli", "no-multicast-peers",
        "user-quota=4", "total-quota=100", "verbose", "log-file=stdout", f"userdb={os.path.join(workdir, name + 'db')}"]
    if streams:
        cert, key = os.path.join(workdir, f"{name}-cert.pem"), os.path.join(workdir, f"{name}-key.pem")
        netlab.run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-days", "1", "-subj", f"/CN={address}", "-addext", f"subjectAltName=IP:{address}",
            "-keyout", key, "-out", cert)
        # coturn tells TLS from plain TCP on either port.
        lines += [f"tls-listening-port={STREAM_PORT}", f"cert={cert}", f"pkey={key}"]
    else:
        lines += ["no-tcp", "no-tls"]
    write_private(config, "\n".join(lines + [""]))
    relay = lab.start(ns, ["turnserver", "-c", config], f"{name}server.log")
    # coturn says nothing reliable when ready: wait until it answers a STUN binding request.
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if lab.exec(ns, sys.executable, os.path.abspath(__file__), "--probe", address, check=False).returncode == 0:
            return ns, address, relay
        time.sleep(0.2)
    raise RuntimeError(f"coturn did not start (see {relay.log_path})")


# A few STUN messages, enough to ask coturn for an allocation with given credentials.
COOKIE = 0x2112A442


def stun(kind, attributes, key=None):
    body = b"".join(struct.pack("!HH", t, len(v)) + v + b"\0" * (-len(v) % 4) for t, v in attributes)
    transaction = secrets.token_bytes(12)
    if key is not None:
        header = struct.pack("!HHI", kind, len(body) + 24, COOKIE) + transaction
        mac = hmac.new(key, header + body, hashlib.sha1).digest()
        body += struct.pack("!HH", 0x0008, 20) + mac
    return struct.pack("!HHI", kind, len(body), COOKIE) + transaction + body


def attributes_of(message):
    found, at = {}, 20
    while at + 4 <= len(message):
        t, n = struct.unpack("!HH", message[at:at + 4])
        found.setdefault(t, message[at + 4:at + 4 + n])
        at += 4 + n + (-n % 4)
    return found


def allocate(server, username, password):
    """'ok' when coturn allocates with these credentials, else its error code."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(2)
        transport = [(0x0019, bytes([17, 0, 0, 0]))]
        s.sendto(stun(0x0003, transport), (server, TURN_PORT))
        first = attributes_of(s.recv(2048))
        realm, nonce = first[0x0014], first[0x0015]
        key = hashlib.md5(f"{username}:{realm.decode()}:{password}".encode()).digest()
        s.sendto(stun(0x0003, transport + [(0x0006, username.encode()), (0x0014, realm), (0x0015, nonce)], key),
            (server, TURN_PORT))
        answer = s.recv(2048)
        if struct.unpack("!H", answer[:2])[0] == 0x0103:
            # Given back at once, so the quota stays free.
            return "ok"
        error = attributes_of(answer).get(0x0009, b"\0\0\0\0")
        return str((error[2] & 7) * 100 + error[3])


def rest_credentials(secret, expiry, user="9"):
    username = f"{expiry}:{user}"
    return username, base64.b64encode(hmac.new(secret.encode(), username.encode(), hashlib.sha1).digest()).decode()


def probe(address):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.3)
        s.sendto(stun(0x0001, []), (address, TURN_PORT))
        try:
            return 0 if s.recv(2048) else 1
        except OSError:
            return 1


class Case:
    def __init__(self, number, title, routers, expected_path, turn="udp", failover=False):
        self.number, self.title, self.routers, self.expected_path = number, title, routers, expected_path
        # The relay URLs the service hands out besides the UDP one: "tcp" or "tls"; failover: a
        # second UDP relay, and the first killed once the conversation goes through it.
        self.turn, self.failover = turn, failover


CASES = [
    Case(1, "both behind routers with random ports", (RANDOM_PORTS, RANDOM_PORTS), RELAY),
    Case(2, "B behind a router with random ports, A public", (None, RANDOM_PORTS), DIRECT),
    Case(4, "A in a home that lets out only TCP 443 (relay over TCP), B public", (ONLY_443, None), RELAY, turn="tcp"),
    Case(5, "A in a home that lets out only TCP 443 (relay over TLS), B public", (ONLY_443, None), RELAY, turn="tls"),
    Case(6, "both behind routers with random ports, the relay killed mid-conversation", (RANDOM_PORTS, RANDOM_PORTS),
        RELAY, failover=True),
]


def place(lab, masquerade, name, lan, number):
    if masquerade is None:
        return lab.public_host(name)[0]
    router, _ = lab.router("r" + name, lan, "masquerade" if masquerade == ONLY_443 else masquerade)
    if masquerade == ONLY_443:
        # Hotel and office networks: nothing leaves but TCP to port 443.
        lab.exec(router, "nft", "insert", "rule", "inet", "labfw", "forward", "iifname", "lan", "oifname", "wan",
            "tcp", "dport", "!=", str(STREAM_PORT), "drop")
        lab.exec(router, "nft", "insert", "rule", "inet", "labfw", "forward", "iifname", "lan", "oifname", "wan",
            "meta", "l4proto", "!=", "tcp", "drop")
    return lab.home_host(name, router, lan, number)[0]


def cpu_seconds(pid):
    """User and system time of a process so far, from /proc/<pid>/stat."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def relay_bytes(lab, ns):
    """Bytes the relay's host took in so far (UDP and TCP alike); the first call sets the count up."""
    listing = lab.exec(ns, "nft", "list", "table", "inet", "labmeter", check=False)
    if listing.returncode != 0:
        lab.exec(ns, "nft", "-f", "-",
            stdin="table inet labmeter {\n chain input { type filter hook input priority -10; counter; }\n}\n")
        return 0
    return int(re.search(r"counter packets \d+ bytes (\d+)", listing.stdout).group(1))


def padded_jpeg(jpeg, size, path):
    """A copy of `jpeg` grown to `size` bytes by a comment segment after its start marker: it
    decodes to the same picture, and travels as a frame of that size."""
    with open(jpeg, "rb") as f:
        data = f.read()
    room = size - len(data) - 4
    if not 0 <= room <= 65533 or data[:2] != b"\xff\xd8":
        raise RuntimeError(f"cannot grow {jpeg} to {size} bytes")
    with open(path, "wb") as f:
        f.write(data[:2] + b"\xff\xfe" + struct.pack("!H", room + 2) + secrets.token_bytes(room) + data[2:])
    return path


class Stream:
    """Video at a steady rate: frames of `size` bytes, `rate` a second, for `seconds`."""
    def __init__(self, name, size, rate, seconds=10):
        self.name, self.size, self.rate, self.seconds = name, size, rate, seconds


# 640x480 at 30 frames a second as VP8 sends it (about 500 kbit/s), and as JPEG frames of
# quality 75 at 15 (about 4.3 Mbit/s): what the relay carries for one conversation either way.
VP8_STREAM = Stream("VP8-sized, 2.1 KB at 30/s", 2100, 30)
JPEG_STREAM = Stream("JPEG-sized, 36 KB at 15/s", 36000, 15)


def paced_video(sender, receiver, frame, stream, watched):
    """Sends `frame` at the stream's rate and counts the frames that arrive whole (and until a
    second after the last was sent). `watched`: {name: pid} whose CPU seconds over the run are
    returned. Returns (sent, arrived, frames a second received, seconds, {name: CPU seconds})."""
    before = {name: cpu_seconds(pid) for name, pid in watched.items()}
    start = time.monotonic()
    sent = arrived = 0
    end = start + stream.seconds
    while True:
        now = time.monotonic()
        if now < end and sent <= (now - start) * stream.rate:
            sender.say(f"frame {receiver.handle} {frame}")
            sent += 1
            continue
        next_send = start + sent / stream.rate
        until = min(next_send, end + 1) if now < end else end + 1
        if now >= end + 1:
            break
        event = receiver.wait(lambda e: e.get("event") == "frame" and e.get("bytes") == stream.size,
            max(0.001, until - now))
        if event is not None:
            arrived += 1
    seconds = stream.seconds
    cpu = {name: cpu_seconds(pid) - before[name] for name, pid in watched.items()}
    return sent, arrived, arrived / seconds, seconds, cpu


def run_case(case, options, workdir):
    lab = netlab.Lab(workdir)
    sessions = []
    try:
        secret = secrets.token_hex(24)
        relay_ns, relay_address, relay = start_relay(lab, workdir, secret, streams=case.turn != "udp")
        urls = [f"turn:{relay_address}:{TURN_PORT}"]
        if case.turn == "tcp":
            urls.append(f"turn:{relay_address}:{STREAM_PORT}?transport=tcp")
        elif case.turn == "tls":
            urls.append(f"turns:{relay_address}:{STREAM_PORT}")
        second = None
        if case.failover:
            _, second_address, second = start_relay(lab, workdir, secret, name="turn2")
            urls.append(f"turn:{second_address}:{TURN_PORT}")
        svc = lab.public_host("svc")
        # A home that lets out only TCP 443 reaches the service there too.
        server = f"{svc[1]}:{STREAM_PORT if ONLY_443 in case.routers else SERVICE_PORT}"
        secret_file = os.path.join(workdir, "turn-secret")
        write_private(secret_file, secret + "\n")
        service = lab.start(svc[0], [options.service, "--listen", server, "--db", os.path.join(workdir, "cfb.db"),
            *[x for url in urls for x in ("--turn-url", url)], "--turn-secret-file", secret_file], "service.log")
        if not netlab.wait_for_log(service, r"listening on", 20):
            raise RuntimeError(f"the service did not start (see {service.log_path})")
        ns_a = place(lab, case.routers[0], "a", "192.168.1", 10)
        ns_b = place(lab, case.routers[1], "b", "192.168.2", 20)
        a = CliSession(lab, ns_a, options.cli, "amelia", server)
        b = CliSession(lab, ns_b, options.cli, "bertram", server)
        sessions = [a, b]
        for session in sessions:
            session.register()
            # Buddies' presence (and relayed addresses) every 5 s, as the desktop client polls.
            os.makedirs(os.path.join(session.config_dir, "Confabo"), exist_ok=True)
            with open(os.path.join(session.config_dir, "Confabo", "Confabo.ini"), "a") as ini:
                ini.write("[Data]\nPolling%20Interval=5\n")
                if case.turn == "tls":
                    ini.write(f"CA%20File={os.path.join(workdir, 'turn-cert.pem')}\n")
        a.start()
        online = b.start()
        for me, other in ((a, b), (b, a)):
            if not me.ask(f"add {other.handle}", "add").get("ok"):
                raise RuntimeError(f"{me.handle} cannot add {other.handle}")
        a.ask("buddies", "buddies")
        b.ask("buddies", "buddies")
        exchange_start = time.monotonic()
        a_to_b = exchange(a, b, options.jpeg, options.wait)
        b_to_a = exchange(b, a, options.jpeg, options.wait)
        paths = []
        for me, other in ((a, b), (b, a)):
            listed = me.ask("buddies", "buddies")["buddies"]
            paths.append(next((x.get("path") for x in listed if x["handle"] == other.handle), None))
        # Video A to B at a steady rate; coturn's CPU and the bytes its host took in (twice per
        # datagram where one relayed address sends to another), with the clients' CPU in the same
        # seconds as the reference (all share the machine's cores).
        streams = [VP8_STREAM] + ([JPEG_STREAM] if case.number in options.heavy_video else [])
        video = []
        for stream in streams:
            if a_to_b["frame"] is None:
                break
            frame = padded_jpeg(options.jpeg, stream.size, os.path.join(workdir, f"frame-{stream.size}.jpg"))
            counted_before = relay_bytes(lab, relay_ns)
            run = paced_video(a, b, frame, stream, {"relay": relay.pid, "sender": a.process.pid,
                "receiver": b.process.pid})
            video.append((stream, run, relay_bytes(lab, relay_ns) - counted_before))
        with open(relay.log_path) as log:
            allocations = log.read().count("ALLOCATE processed, success")
        first_message = None
        if a_to_b["message"] is not None:
            first_message = exchange_start + a_to_b["message"] - online
        result = {"a_to_b": a_to_b, "b_to_a": b_to_a, "paths": paths, "video": video,
            "allocations": allocations, "online_to_message": first_message}
        if case.failover:
            # The relay both went through is gone for good: the conversation goes on through the other.
            os.killpg(relay.pid, signal.SIGKILL)
            relay.wait()
            killed = time.monotonic()
            result["after_kill"] = (exchange(a, b, options.jpeg, 60), exchange(b, a, options.jpeg, 60))
            result["kill_to_message"] = time.monotonic() - killed
            result["paths_after_kill"] = []
            for me, other in ((a, b), (b, a)):
                listed = me.ask("buddies", "buddies")["buddies"]
                result["paths_after_kill"].append(next((x.get("path") for x in listed if x["handle"] == other.handle), None))
            with open(second.log_path) as log:
                result["second_allocations"] = log.read().count("ALLOCATE processed, success")
        return result
    finally:
        for session in sessions:
            session.quit()
        lab.close()


def credentials_case(options, workdir):
    """coturn refuses what the service did not sign, and what has expired."""
    lab = netlab.Lab(workdir)
    try:
        secret = secrets.token_hex(24)
        ns, relay_address, _ = start_relay(lab, workdir, secret)
        now = int(time.time())
        good = rest_credentials(secret, now + 3600)
        forged = (good[0], rest_credentials("not-the-secret", now + 3600)[1])
        expired = rest_credentials(secret, now - 60)
        results = {}
        for name, (username, password) in (("good", good), ("forged", forged), ("expired", expired)):
            run = lab.exec(ns, sys.executable, os.path.abspath(__file__), "--allocate", relay_address, username, password,
                check=False)
            results[name] = run.stdout.strip() or run.stderr.strip()
        return results
    finally:
        lab.close()


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--probe":
        return probe(sys.argv[2])
    if len(sys.argv) > 4 and sys.argv[1] == "--allocate":
        print(allocate(sys.argv[2], sys.argv[3], sys.argv[4]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--jpeg", required=True)
    parser.add_argument("--cases", default="1,2,3,4,5,6")
    parser.add_argument("--wait", type=float, default=20)
    parser.add_argument("--heavy-video", default="1",
        help="cases that also send JPEG-sized frames through (comma-separated; '' for none)")
    options = parser.parse_args()

    why_not = netlab.unusable_here("relay lab", ["turnserver", "openssl"])
    if why_not:
        print(f"SKIP: {why_not}")
        return SKIP

    wanted = {int(n) for n in options.cases.split(",")}
    options.heavy_video = {int(n) for n in options.heavy_video.split(",") if n}
    rows, failed = [], False
    for case in (c for c in CASES if c.number in wanted):
        with tempfile.TemporaryDirectory(prefix=f"cfbrelay-{case.number}-") as workdir:
            started = time.monotonic()
            try:
                result = run_case(case, options, workdir)
            except RuntimeError as e:
                print(f"case {case.number} ({case.title}): could not run: {e}", flush=True)
                failed = True
                continue
            faults = []
            for key, name in (("a_to_b", "A to B"), ("b_to_a", "B to A")):
                for kind in ("message", "frame"):
                    if result[key][kind] is None:
                        faults.append(f"{name} {kind} did not arrive")
            for who, path in zip("AB", result["paths"]):
                if path != case.expected_path:
                    faults.append(f"{who}'s path is {path!r}, expected {case.expected_path!r}")
            if case.expected_path == DIRECT and result["allocations"]:
                faults.append(f"the relay made {result['allocations']} allocations where none was needed")
            failed = failed or bool(faults)
            fps = next((f"{run[2]:.1f} ({run[1]} of {run[0]})" for stream, run, _ in result["video"]
                if stream is VP8_STREAM), "-")
            rows.append([case.title, cell(result["a_to_b"]["message"]), cell(result["b_to_a"]["message"]),
                cell(result["a_to_b"]["frame"]), cell(result["b_to_a"]["frame"]), " / ".join(map(str, result["paths"])),
                fps])
            if case.expected_path == RELAY and not result["allocations"]:
                faults.append("the relay made no allocation")
            if case.failover:
                for (direction, name) in zip(result["after_kill"], ("A to B", "B to A")):
                    for kind in ("message", "frame"):
                        if direction[kind] is None:
                            faults.append(f"after the relay was killed, {name} {kind} did not arrive")
                if not result["second_allocations"]:
                    faults.append("the second relay made no allocation")
                print(f"case {case.number}: after the relay was killed: A to B message "
                      f"{cell(result['after_kill'][0]['message'])}, frame {cell(result['after_kill'][0]['frame'])}; "
                      f"B to A message {cell(result['after_kill'][1]['message'])}, frame "
                      f"{cell(result['after_kill'][1]['frame'])}; paths {' / '.join(map(str, result['paths_after_kill']))}; "
                      f"{result['second_allocations']} allocations at the second relay", flush=True)
            for stream, (sent, arrived, fps, seconds, cpu), taken_in in result["video"]:
                mbits = arrived * stream.size * 8 / 1e6 / seconds
                line = (f"case {case.number}: video A to B, {stream.name} for {seconds} s: {arrived} of {sent} frames, "
                        f"{fps:.1f} frames/s received, {mbits:.2f} Mbit/s of frames; CPU s: coturn {cpu['relay']:.2f}, "
                        f"sender {cpu['sender']:.2f}, receiver {cpu['receiver']:.2f}")
                if case.expected_path == RELAY and mbits > 0:
                    line += (f"; coturn took in {taken_in * 8 / 1e6 / seconds:.2f} Mbit/s, "
                             f"{100 * cpu['relay'] / seconds / mbits:.2f} % of a core per Mbit/s of frames, "
                             + (f"{cpu['relay'] / cpu['sender']:.2f}x the sending client's CPU" if cpu["sender"] > 0
                                else "the sending client's CPU too small to count"))
                print(line, flush=True)
            print(f"case {case.number} ({case.title}), {time.monotonic() - started:.0f} s: "
                  + ("ok" if not faults else "; ".join(faults)), flush=True)
            if result["online_to_message"] is not None:
                print(f"case {case.number}: A's first message reached B {result['online_to_message']:.1f} s after B "
                      f"signed in; {result['allocations']} relay allocations", flush=True)
    if 3 in wanted:
        with tempfile.TemporaryDirectory(prefix="cfbrelay-3-") as workdir:
            try:
                results = credentials_case(options, workdir)
            except RuntimeError as e:
                print(f"case 3 (relay credentials): could not run: {e}", flush=True)
                failed = True
                results = None
            if results is not None:
                faults = [f"a {name} credential got {got!r}, expected {want!r}" for name, want in
                    (("good", "ok"), ("forged", "401"), ("expired", "401")) if results[name] != want]
                failed = failed or bool(faults)
                print("case 3 (relay credentials): " + ("ok" if not faults else "; ".join(faults))
                      + f" (good {results['good']}, forged {results['forged']}, expired {results['expired']})",
                      flush=True)

    print()
    print("| where the two users are | A to B messages | B to A messages | video A to B | video B to A "
          "| path A / B | frames a second A to B |")
    print("|---|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
