#!/usr/bin/env python3
"""Buddies across home routers: the real service on the lab's internet, two `confabo-cli` sessions
(amelia as A, bertram as B) placed as users are at home, and for each placement whether messages
and video frames arrive both ways. Prints one table row per case; exits 1 when any expected
delivery or reachability text is missing, 77 (skipped) without root or the network tools.

usage: reach_lab.py --cli PATH --service PATH --jpeg FILE [--cases 1,2,...] [--wait SECONDS]
"""

import argparse
import os
import sys
import tempfile
import time

import netlab
import upnp_router
from cli_session import CliSession

SKIP = 77
SERVICE_PORT = 8080
DATA_PORT = 80  # the default every installation shares
DIRECT = "Direct"
MAPPED = f"Router mapped port {DATA_PORT}"
BEHIND = "Behind a router (buddies can reach you only after you contact them)"


class Case:
    def __init__(self, number, title, place, reach_a, reach_b, b_first=False, b_silent=False, a_to_b=True):
        self.number, self.title, self.place = number, title, place
        self.reach_a, self.reach_b = reach_a, reach_b
        self.b_first = b_first  # B signs in before A
        # B's router drops what B starts sending to A (keep-alives, handshakes) until A has reached
        # B; B's answers to A (an encrypted channel's handshake) get out.
        self.b_silent = b_silent
        self.a_to_b = a_to_b  # whether A can reach B at all


# Each placement returns (A's namespace, B's namespace, B's router namespace or None).
def one_network(lab, svc):
    return lab.public_host("a")[0], lab.public_host("b")[0], None


def b_behind_router(lab, svc, masquerade="masquerade"):
    router, _ = lab.router("rb", "192.168.2", masquerade)
    return lab.public_host("a")[0], lab.home_host("b", router, "192.168.2", 20)[0], router


def each_behind_own(lab, svc):
    router_a, _ = lab.router("ra", "192.168.1")
    router_b, _ = lab.router("rb", "192.168.2")
    return lab.home_host("a", router_a, "192.168.1", 10)[0], lab.home_host("b", router_b, "192.168.2", 20)[0], router_b


def both_behind_one(lab, svc):
    router, _ = lab.router("r", "192.168.1")
    return lab.home_host("a", router, "192.168.1", 10)[0], lab.home_host("b", router, "192.168.1", 11)[0], router


def b_behind_upnp_router(lab, svc, natpmp=True):
    service_ns, service_address = svc
    upnp_router.start_stun(lab, service_ns, service_address)
    a, b, router = b_behind_router(lab, svc)
    upnp_router.start_miniupnpd(lab, router, "192.168.2", service_address, natpmp)
    return a, b, router


def b_behind_upnp_only_router(lab, svc):
    return b_behind_upnp_router(lab, svc, natpmp=False)


def b_behind_random_ports(lab, svc):
    return b_behind_router(lab, svc, "masquerade fully-random")


CASES = [
    Case(1, "same network", one_network, DIRECT, DIRECT),
    Case(2, "B behind a home router", b_behind_router, DIRECT, BEHIND),
    Case(3, "each behind their own router", each_behind_own, BEHIND, BEHIND),
    Case(4, "both behind the same router", both_behind_one, BEHIND, BEHIND),
    Case(5, "B behind a UPnP router, B silent", b_behind_upnp_router, DIRECT, MAPPED, b_first=True, b_silent=True),
    # B's handshake leaves through a port the router picked for A alone; A answers there, as the
    # encrypted channel goes to where a buddy's authenticated datagrams come from.
    Case(6, "B behind a router with random ports", b_behind_random_ports, DIRECT, BEHIND),
    Case(7, "B behind a UPnP router without NAT-PMP, B silent", b_behind_upnp_only_router, DIRECT, MAPPED,
        b_first=True, b_silent=True),
]


def exchange(sender, receiver, jpeg, wait):
    """Sends a message and a frame each second until both arrived or `wait` seconds passed.
    Returns {"message": seconds or None, "frame": seconds or None}, counted from the start."""
    size = os.path.getsize(jpeg)
    arrived = {"message": None, "frame": None}
    start = time.monotonic()
    sent = 0
    while time.monotonic() - start < wait and None in arrived.values():
        sent += 1
        token = f"lab {sender.handle} to {receiver.handle} #{sent}"
        if arrived["message"] is None:
            sender.say(f"send {receiver.handle} {token}")
        if arrived["frame"] is None:
            sender.say(f"frame {receiver.handle} {jpeg}")
        tick = time.monotonic() + 1
        while time.monotonic() < tick and None in arrived.values():
            event = receiver.wait(lambda e: e.get("from") == sender.handle, tick - time.monotonic())
            if event is None:
                continue
            kind = event.get("event")
            ok = (kind == "message" and event.get("text", "").startswith(f"lab {sender.handle} to")) or (
                kind == "frame" and event.get("bytes") == size and event.get("width", 0) > 0)
            if ok and arrived.get(kind, 0) is None:
                arrived[kind] = time.monotonic() - start
    return arrived


def cell(seconds):
    return "no" if seconds is None else f"yes ({seconds:.1f} s)"


def run_case(case, options, workdir):
    lab = netlab.Lab(workdir)
    sessions = []
    try:
        svc = lab.public_host("svc")
        server = f"{svc[1]}:{SERVICE_PORT}"
        service = lab.start(svc[0], [options.service, "--listen", server, "--db", os.path.join(workdir, "cfb.db")],
            "service.log")
        if not netlab.wait_for_log(service, r"listening on", 20):
            raise RuntimeError(f"the service did not start (see {service.log_path})")
        ns_a, ns_b, router_b = case.place(lab, svc)
        a = CliSession(lab, ns_a, options.cli, "amelia", server)
        b = CliSession(lab, ns_b, options.cli, "bertram", server)
        sessions = [a, b]
        a.register()
        b.register()
        first, second = (b, a) if case.b_first else (a, b)
        first.start()
        if case.b_silent:
            lab.exec(router_b, "nft", "-f", "-", stdin=f"""table inet labsilent {{
  chain forward {{ type filter hook forward priority -10; policy accept; iifname "lan" meta l4proto udp ip daddr {netlab.INTERNET}.0/24 udp dport {DATA_PORT} ct state new drop; }}
}}""")
        online = second.start()
        for me, other in ((a, b), (b, a)):
            if not me.ask(f"add {other.handle}", "add").get("ok"):
                raise RuntimeError(f"{me.handle} cannot add {other.handle}")
        # Each looks its buddies up, as the buddy list does after signing in.
        a.ask("buddies", "buddies")
        b.ask("buddies", "buddies")

        exchange_start = time.monotonic()
        a_to_b = exchange(a, b, options.jpeg, options.wait)
        if case.b_silent:
            lab.exec(router_b, "nft", "delete", "table", "inet", "labsilent")
        b_to_a = exchange(b, a, options.jpeg, options.wait)
        # Discovering the router takes a moment of its own; the line may come after the traffic.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and None in (a.reachability, b.reachability):
            time.sleep(0.1)
        first_message = None
        if a_to_b["message"] is not None:
            first_message = exchange_start + a_to_b["message"] - online
        return {"a_to_b": a_to_b, "b_to_a": b_to_a, "reach": (a.reachability, b.reachability),
            "online_to_message": first_message}
    finally:
        for session in sessions:
            session.quit()
        lab.close()


def verdict(case, result):
    """The faults in a case's result: deliveries that should have happened, reachability texts."""
    faults = []
    directions = [("b_to_a", "B to A")] + ([("a_to_b", "A to B")] if case.a_to_b else [])
    for key, name in directions:
        for kind in ("message", "frame"):
            if result[key][kind] is None:
                faults.append(f"{name} {kind} did not arrive")
    for who, seen, expected in (("A", result["reach"][0], case.reach_a), ("B", result["reach"][1], case.reach_b)):
        if seen is None:
            faults.append(f"{who} printed no Reachability line (expected \"{expected}\")")
        elif seen != expected:
            faults.append(f"{who}'s Reachability is \"{seen}\", expected \"{expected}\"")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--jpeg", required=True, help="a JPEG file sent as the video frame")
    parser.add_argument("--cases", default="1,2,3,4,5,6")
    parser.add_argument("--wait", type=float, default=12, help="seconds each direction may take")
    options = parser.parse_args()

    why_not = netlab.unusable_here("network lab", ["miniupnpd"])
    if why_not:
        print(f"SKIP: {why_not}")
        return SKIP

    wanted = {int(n) for n in options.cases.split(",")}
    rows, failed = [], False
    for case in (c for c in CASES if c.number in wanted):
        with tempfile.TemporaryDirectory(prefix=f"cfblab-{case.number}-") as workdir:
            started = time.monotonic()
            try:
                result = run_case(case, options, workdir)
            except RuntimeError as e:
                print(f"case {case.number} ({case.title}): could not run: {e}", flush=True)
                failed = True
                continue
            faults = verdict(case, result)
            failed = failed or bool(faults)
            a_to_b, b_to_a = result["a_to_b"], result["b_to_a"]
            row = [case.title, cell(a_to_b["message"]), cell(b_to_a["message"]), cell(a_to_b["frame"]),
                cell(b_to_a["frame"]), result["reach"][0] or "-", result["reach"][1] or "-"]
            rows.append(row)
            print(f"case {case.number} ({case.title}), {time.monotonic() - started:.0f} s: "
                  + ("ok" if not faults else "; ".join(faults)), flush=True)
            if not case.a_to_b and a_to_b["message"] is None:
                print(f"case {case.number}: A cannot reach B here, as expected of a router that changes ports")
            if case.number == 3 and result["online_to_message"] is not None:
                print(f"case 3: A's first message reached B {result['online_to_message']:.1f} s after B signed in")

    print()
    print("| where the two users are | A to B messages | B to A messages | video A to B | video B to A "
          "| Reachability A | Reachability B |")
    print("|---|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
