#!/usr/bin/env python3
"""What a user with 50 online buddies sends from the data port to keep every conversation open.

One lab (network namespaces on a flat internet): the real service, coturn, amelia (A) in a host of
her own and 50 buddies in another (one `confabo-cli session` each, at its own address), buddies of
each other both ways. Two runs:

  direct: A reaches every buddy straight; what leaves A's data port is the channel's keep-alives.
  relay:  A's host drops UDP between A and the buddies' addresses (a firewall between them), so
          A and every buddy take a relayed address at coturn and every conversation goes through
          it; what leaves A's data port is then keep-alives as channel data to coturn, the
          allocation's, permissions' and channels' refreshes, and the tries of the direct way.

Each run waits until A's `buddies` says every buddy's path is the one wanted, then counts with
nftables, in A's namespace, the UDP datagrams and bytes (IP packets as they leave) from A's data
port over --minutes (the counter sits before the firewall's drop). Prints per minute, in all and per
buddy. Needs root and coturn; exits 77 without.

  sudo bench/network/keep_alive_traffic.py --build build [--minutes 2] [--buddies 50] [--runs direct,relay]
"""

import argparse
import os
import re
import secrets
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing left behind in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "network"))

import netlab  # noqa: E402
from cli_session import CliSession  # noqa: E402
from relay_lab import DIRECT, RELAY, TURN_PORT, start_relay, write_private  # noqa: E402

SKIP = 77
SERVICE_PORT = 8080
DATA_PORT = 5900


def counted(lab, ns):
    """(datagrams, bytes) that left A's data port since the count was set up: in all, and of them
    those to the buddies' own addresses (the direct way)."""
    listing = lab.exec(ns, "nft", "list", "chain", "inet", "labmeter", "out").stdout
    counts = [(int(p), int(b)) for p, b in re.findall(r"counter packets (\d+) bytes (\d+)", listing)]
    return counts[0], counts[1]


def run(kind, options, workdir):
    lab = netlab.Lab(workdir)
    sessions = []
    try:
        secret = secrets.token_hex(24)
        # In the relay run every user holds one allocation: the lab's coturn takes 100 in all.
        _, relay_address, relay = start_relay(lab, workdir, secret)
        svc_ns, svc_address = lab.public_host("svc")
        server = f"{svc_address}:{SERVICE_PORT}"
        secret_file = os.path.join(workdir, "turn-secret")
        write_private(secret_file, secret + "\n")
        service = lab.start(svc_ns, [options.service, "--listen", server, "--db", os.path.join(workdir, "cfb.db"),
            "--turn-url", f"turn:{relay_address}:{TURN_PORT}", "--turn-secret-file", secret_file,
            "--sign-in-burst", "500", "--sign-in-rate", "500"], "service.log")
        if not netlab.wait_for_log(service, r"listening on", 20):
            raise RuntimeError(f"the service did not start (see {service.log_path})")
        a_ns, _ = lab.public_host("a")
        b_ns, b_first = lab.public_host("buddies")
        prefix = b_first.rsplit(".", 1)[0]
        addresses = [f"{prefix}.{100 + i}" for i in range(options.buddies)]
        for address in addresses:
            lab.ip(b_ns, "addr", "add", address + "/24", "dev", "eth0")
        rules = [
            "table inet labmeter {",
            " chain out { type filter hook output priority -10; udp sport %d counter;" % DATA_PORT
            + " udp sport %d ip daddr { %s } counter; }" % (DATA_PORT, ", ".join(addresses)),
        ]
        if kind == "relay":
            buddies = "{ " + ", ".join(addresses) + " }"
            rules += [
                f" chain fw_out {{ type filter hook output priority 0; ip daddr {buddies} meta l4proto udp drop; }}",
                f" chain fw_in {{ type filter hook input priority 0; ip saddr {buddies} meta l4proto udp drop; }}",
            ]
        lab.exec(a_ns, "nft", "-f", "-", stdin="\n".join(rules + ["}", ""]))

        a = CliSession(lab, a_ns, options.cli, "amelia", server)
        buddies = [CliSession(lab, b_ns, options.cli, f"buddy{i:02d}", server) for i in range(options.buddies)]
        sessions = [a] + buddies
        for session, address in zip(sessions, [None] + addresses):
            session.register()
            os.makedirs(os.path.join(session.config_dir, "Confabo"), exist_ok=True)
            with open(os.path.join(session.config_dir, "Confabo", "Confabo.ini"), "a") as ini:
                ini.write("[Data]\nPolling%20Interval=5\n")
            extra = ["--data-port", str(DATA_PORT)] + (["--data-address", address] if address else [])
            session.common = (lambda base, more: lambda: base() + more)(session.common, extra)
        for session in sessions:
            session.start()
        for buddy in buddies:
            if not a.ask(f"add {buddy.handle}", "add").get("ok") or not buddy.ask("add amelia", "add").get("ok"):
                raise RuntimeError(f"amelia and {buddy.handle} cannot add each other")
        wanted = DIRECT if kind == "direct" else RELAY
        deadline = time.monotonic() + options.settle
        paths = {}
        while time.monotonic() < deadline:
            paths = {x["handle"]: x.get("path") for x in a.ask("buddies", "buddies")["buddies"]}
            if len(paths) == options.buddies and all(p == wanted for p in paths.values()):
                break
            time.sleep(2)
        else:
            settled = sum(p == wanted for p in paths.values())
            raise RuntimeError(f"{settled} of {options.buddies} buddies {wanted} after {options.settle} s")
        settled_at = time.monotonic()
        # A few seconds more for the first round of keep-alives after the handshakes.
        time.sleep(5)
        first = counted(lab, a_ns)
        start = time.monotonic()
        time.sleep(options.minutes * 60)
        last = counted(lab, a_ns)
        minutes = (time.monotonic() - start) / 60
        paths = [x.get("path") for x in a.ask("buddies", "buddies")["buddies"]]
        with open(relay.log_path) as log:
            allocations = log.read().count("ALLOCATE processed, success")
        return {"datagrams": (last[0][0] - first[0][0]) / minutes, "bytes": (last[0][1] - first[0][1]) / minutes,
            "direct_datagrams": (last[1][0] - first[1][0]) / minutes, "direct_bytes": (last[1][1] - first[1][1]) / minutes,
            "minutes": minutes, "still": sum(p == wanted for p in paths), "allocations": allocations,
            "settle": settled_at - (deadline - options.settle)}
    finally:
        for session in sessions:
            session.quit()
        lab.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--minutes", type=float, default=2, help="for each run; the relay's permissions are "
        "renewed every 4 minutes, its channels every 8: --minutes 10 counts each of them")
    parser.add_argument("--buddies", type=int, default=50)
    parser.add_argument("--runs", default="direct,relay")
    parser.add_argument("--settle", type=float, default=120, help="seconds to wait for every path")
    options = parser.parse_args()
    if not 1 <= options.buddies <= 99:
        parser.error("--buddies: from 1 to 99 (the relay's quota and the buddies' addresses)")
    options.cli = os.path.join(options.build, "bin", "confabo-cli")
    options.service = os.path.join(options.build, "bin", "confabo-service")
    why_not = netlab.unusable_here("keep-alive traffic lab", ["turnserver", "openssl"])
    if why_not:
        print(f"SKIP: {why_not}")
        return SKIP
    failed = False
    for kind in options.runs.split(","):
        with tempfile.TemporaryDirectory(prefix=f"cfbkeepalive-{kind}-") as workdir:
            try:
                r = run(kind, options, workdir)
            except RuntimeError as e:
                print(f"{kind}: could not run: {e}", flush=True)
                failed = True
                continue
            n = options.buddies
            print(f"{kind}, {n} buddies online ({r['settle']:.0f} s until every path was "
                  f"{DIRECT if kind == 'direct' else RELAY!r}; "
                  f"{r['still']} still so at the end; {r['allocations']} allocations at coturn), "
                  f"over {r['minutes']:.1f} min from A's data port: {r['datagrams']:.0f} datagrams/min, "
                  f"{r['bytes'] / 1000:.1f} kB/min ({r['bytes'] * 8 / 60 / 1000:.2f} kbit/s); per buddy "
                  f"{r['datagrams'] / n:.2f} datagrams/min, {r['bytes'] / n:.0f} B/min; of all, to the buddies' own "
                  f"addresses {r['direct_datagrams']:.0f} datagrams/min, {r['direct_bytes'] / 1000:.1f} kB/min", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
