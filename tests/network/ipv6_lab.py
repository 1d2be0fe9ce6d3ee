#!/usr/bin/env python3
"""Buddies over IPv6: the real service (listening on both families) and two `confabo-cli` sessions
(amelia as A, bertram as B) in homes that route IPv6 beside IPv4 behind an ordinary router, or IPv6
alone. For each case: whether a message and a frame arrive each way, which path the conversation
took ("direct over IPv6" or "direct"), and the time from B signing in to A's first message reaching
B. Prints one table row per case; exits 1 on any fault, 77 (skipped) without root or the network
tools.

usage: ipv6_lab.py --cli PATH --service PATH --jpeg FILE [--cases 1,2,3] [--wait SECONDS]
"""

import argparse
import os
import sys
import tempfile
import time

import netlab
from cli_session import CliSession
from reach_lab import exchange, cell

SKIP = 77
SERVICE_PORT = 8080
IPV6 = "direct over IPv6"
IPV4 = "direct"

# How a home is joined to the internet: both families (IPv4 behind masquerade), IPv6 alone, or
# both with an IPv6 that goes nowhere (the router drops every forwarded IPv6 packet).
BOTH, ONLY6, BROKEN6 = "both", "IPv6 only", "IPv6 broken"


class Case:
    def __init__(self, number, title, homes, expected_path):
        self.number, self.title, self.homes, self.expected_path = number, title, homes, expected_path


CASES = [
    Case(1, "both homes with IPv4 and IPv6", (BOTH, BOTH), IPV6),
    Case(2, "B's home IPv6 only, A's both", (BOTH, ONLY6), IPV6),
    Case(3, "B's home IPv6 goes nowhere: back to IPv4", (BOTH, BROKEN6), IPV4),
]


def place(lab, home, name, lan, number):
    router, _ = lab.router("r" + name, lan, ipv4=home != ONLY6, ipv6=True)
    if home == BROKEN6:
        lab.exec(router, "nft", "insert", "rule", "inet", "labfw", "forward", "meta", "nfproto", "ipv6", "drop")
    ns, _ = lab.home_host(name, router, lan, number)
    return ns


def run_case(case, options, workdir):
    lab = netlab.Lab(workdir)
    sessions = []
    try:
        svc, service_v4 = lab.public_host("svc", ipv6=True)
        service = lab.start(svc, [options.service, "--listen", f"[::]:{SERVICE_PORT}", "--db",
            os.path.join(workdir, "cfb.db")], "service.log")
        if not netlab.wait_for_log(service, r"listening on", 20):
            raise RuntimeError(f"the service did not start (see {service.log_path})")
        ns_a = place(lab, case.homes[0], "a", "192.168.1", 10)
        ns_b = place(lab, case.homes[1], "b", "192.168.2", 20)
        # A home with IPv4 reaches the service over IPv4 (which tells it that address), one
        # with IPv6 only over IPv6.
        def server_for(home):
            return f"[{lab.address6(svc)}]:{SERVICE_PORT}" if home == ONLY6 else f"{service_v4}:{SERVICE_PORT}"
        a = CliSession(lab, ns_a, options.cli, "amelia", server_for(case.homes[0]))
        b = CliSession(lab, ns_b, options.cli, "bertram", server_for(case.homes[1]))
        sessions = [a, b]
        for session in sessions:
            session.register()
            os.makedirs(os.path.join(session.config_dir, "Confabo"), exist_ok=True)
            with open(os.path.join(session.config_dir, "Confabo", "Confabo.ini"), "a") as ini:
                ini.write("[Data]\nPolling%20Interval=5\n")
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
        first_message = None
        if a_to_b["message"] is not None:
            first_message = exchange_start + a_to_b["message"] - online
        return {"a_to_b": a_to_b, "b_to_a": b_to_a, "paths": paths, "online_to_message": first_message,
            "reachability": (a.reachability, b.reachability)}
    finally:
        for session in sessions:
            session.quit()
        lab.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--jpeg", required=True)
    parser.add_argument("--cases", default="1,2,3")
    parser.add_argument("--wait", type=float, default=20)
    options = parser.parse_args()

    why_not = netlab.unusable_here("IPv6 lab", [])
    if why_not:
        print(f"SKIP: {why_not}")
        return SKIP

    wanted = {int(n) for n in options.cases.split(",")}
    rows, failed = [], False
    for case in (c for c in CASES if c.number in wanted):
        with tempfile.TemporaryDirectory(prefix=f"cfbipv6-{case.number}-") as workdir:
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
            failed = failed or bool(faults)
            online = result["online_to_message"]
            rows.append([case.title, cell(result["a_to_b"]["message"]), cell(result["b_to_a"]["message"]),
                cell(result["a_to_b"]["frame"]), cell(result["b_to_a"]["frame"]), " / ".join(map(str, result["paths"])),
                "-" if online is None else f"{online:.1f} s"])
            print(f"case {case.number} ({case.title}), {time.monotonic() - started:.0f} s: "
                  + ("ok" if not faults else "; ".join(faults)), flush=True)
            print(f"case {case.number}: reachability A: {result['reachability'][0]!r}, "
                  f"B: {result['reachability'][1]!r}", flush=True)

    print()
    print("| where the two users are | A to B messages | B to A messages | video A to B | video B to A "
          "| path A / B | B online to A's first message |")
    print("|---|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
