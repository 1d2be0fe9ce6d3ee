"""Network namespaces for the reachability lab: an "internet" bridge, hosts on it or behind home
routers that masquerade through nftables, and the processes started inside them.

Nothing here is linked to the machine's own network: the bridge lives in a namespace of its own,
so every datagram stays between the lab's namespaces. Namespaces are named after the lab's process
id, which lets a later run remove those of a run that was killed before it could clean up.
"""

import os
import re
import signal
import subprocess
import time

PREFIX = "cfblab"
# Addresses of the lab's "internet", a /24 that exists only inside the lab's namespaces (nothing
# links them to the host). Not a test or benchmarking range: UPnP clients take a gateway with
# such an external address for one that is not connected, and would never map through it.
INTERNET = "11.18.0"
# The internet's IPv6 network, and the /64 of each home that routes IPv6 (homes 1, 2, ...).
INTERNET6 = "2001:db8:18::"
HOME6 = "2001:db8:18:{}::"


def run(*args, check=True, stdin=None):
    result = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)}: {result.stderr.strip() or result.returncode}")
    return result


def remove_stale_namespaces():
    """Deletes the namespaces of lab runs whose process is gone."""
    listing = run("ip", "netns", "list", check=False).stdout
    for name in re.findall(rf"^({PREFIX}(\d+)-\S+)", listing, re.M):
        if not os.path.exists(f"/proc/{name[1]}"):
            run("ip", "netns", "del", name[0], check=False)


class Lab:
    """One case's namespaces and processes; close() removes them all."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.tag = f"{PREFIX}{os.getpid()}-"
        self.namespaces = []
        self.processes = []
        self.next_public = 1
        self.public = []  # namespaces on the internet, which need a route to each IPv6 home
        self.homes6 = []  # (prefix, router's IPv6 address on the internet)
        self.addresses6 = {}
        self.home_prefixes = {}
        try:
            self.internet = self.namespace("net")
            self.ip(self.internet, "link", "add", "br0", "type", "bridge")
            self.ip(self.internet, "link", "set", "br0", "up")
        except RuntimeError:
            self.close()
            raise

    def namespace(self, name):
        ns = self.tag + name
        run("ip", "netns", "add", ns)
        self.namespaces.append(ns)
        self.ip(ns, "link", "set", "lo", "up")
        return ns

    def ip(self, ns, *args):
        return run("ip", "-n", ns, *args)

    def exec(self, ns, *args, check=True, stdin=None):
        return run("ip", "netns", "exec", ns, *args, check=check, stdin=stdin)

    def link(self, ns, ifname, bridge_ns, bridge, address, gateway=None):
        """Joins `ns` to `bridge` in `bridge_ns` by a veth pair; `ifname` carries `address` (CIDR)."""
        peer = f"v{len(self.namespaces)}{ifname}"[:15]
        run("ip", "link", "add", "name", ifname, "netns", ns, "type", "veth", "peer", "name", peer, "netns", bridge_ns)
        self.ip(bridge_ns, "link", "set", peer, "master", bridge, "up")
        self.ip(ns, "addr", "add", address, "dev", ifname)
        self.ip(ns, "link", "set", ifname, "up")
        if gateway:
            self.ip(ns, "route", "add", "default", "via", gateway)

    def public_host(self, name, ipv4=True, ipv6=False):
        """A namespace straight on the internet; returns (namespace, address), the address IPv4
        unless the host has IPv6 only. Its IPv6 address (if any) is address6(ns)."""
        ns = self.namespace(name)
        number = self.next_public
        self.next_public += 1
        address = f"{INTERNET}.{number}"
        self.link(ns, "eth0", self.internet, "br0", address + "/24")
        if not ipv4:
            self.ip(ns, "-4", "addr", "flush", "dev", "eth0")
        if ipv6:
            address6 = f"{INTERNET6}{number:x}"
            self.ip(ns, "-6", "addr", "add", address6 + "/64", "dev", "eth0", "nodad")
            for prefix, via in self.homes6:
                self.ip(ns, "-6", "route", "add", prefix + "/64", "via", via)
            self.public.append(ns)
            self.addresses6[ns] = address6
            if not ipv4:
                address = address6
        return ns, address

    def address6(self, ns):
        return self.addresses6.get(ns)

    def router(self, name, lan, masquerade="masquerade", ipv4=True, ipv6=False):
        """A home router: WAN on the internet, LAN bridge `lan` (e.g. "192.168.1") behind nftables
        masquerade, and a stateful firewall that lets in only answers and forwarded ports. As on a
        real router, what arrives unasked for the router itself is dropped before the connection
        tracking keeps it; kept, it would hold the port a LAN host's first datagram then needs.
        With ipv6 the home also gets a /64 of its own, routed without translation; the same
        firewall then lets in over IPv6 only answers to what left (as home routers do); neighbour
        discovery passes. Without ipv4 the home has IPv6 only.
        Returns (namespace, WAN address)."""
        ns, wan = self.public_host(name, ipv4=ipv4, ipv6=ipv6)
        self.ip(ns, "link", "set", "eth0", "name", "wan")
        self.ip(ns, "link", "add", "lan", "type", "bridge")
        if ipv4:
            self.ip(ns, "addr", "add", f"{lan}.1/24", "dev", "lan")
        self.ip(ns, "link", "set", "lan", "up")
        self.exec(ns, "sysctl", "-qw", "net.ipv4.ip_forward=1")
        if ipv6:
            prefix = HOME6.format(len(self.homes6) + 1)
            self.home_prefixes[ns] = prefix
            self.ip(ns, "-6", "addr", "add", prefix + "1/64", "dev", "lan", "nodad")
            self.exec(ns, "sysctl", "-qw", "net.ipv6.conf.all.forwarding=1")
            self.homes6.append((prefix, self.addresses6[ns]))
            for other in self.public:
                if other != ns:
                    self.ip(other, "-6", "route", "add", prefix + "/64", "via", self.addresses6[ns])
        nat = f"""
table ip labnat {{
  chain postrouting {{ type nat hook postrouting priority srcnat; policy accept; oifname "wan" {masquerade}; }}
}}""" if ipv4 else ""
        rules = nat + f"""
table inet labfw {{
  chain input {{
    type filter hook input priority filter; policy accept;
    iifname "wan" ct state established,related accept
    iifname "wan" meta l4proto ipv6-icmp accept
    iifname "wan" drop
  }}
  chain forward {{
    type filter hook forward priority filter; policy drop;
    ct state established,related accept
    iifname "lan" oifname "wan" accept
    ip saddr {lan}.0/24 ip daddr {lan}.0/24 accept
    ct status dnat accept
  }}
}}
"""
        # Where the host bridges pass through the firewall (br_netfilter), hosts of one LAN still
        # reach each other: the LAN rule above.
        self.exec(ns, "nft", "-f", "-", stdin=rules)
        return ns, wan

    def home_host(self, name, router_ns, lan, number):
        """A namespace on a router's LAN; returns (namespace, address), the address IPv4 unless
        the home has IPv6 only. Where the home routes IPv6 the host has address6(ns) too."""
        ns = self.namespace(name)
        address = f"{lan}.{number}"
        prefix = self.home_prefixes.get(router_ns)
        ipv4 = self.ip(router_ns, "-4", "addr", "show", "dev", "lan").stdout.strip() != ""
        self.link(ns, "eth0", router_ns, "lan", address + "/24", gateway=f"{lan}.1" if ipv4 else None)
        if not ipv4:
            self.ip(ns, "-4", "addr", "flush", "dev", "eth0")
        if prefix:
            address6 = f"{prefix}{number:x}"
            self.ip(ns, "-6", "addr", "add", address6 + "/64", "dev", "eth0", "nodad")
            self.ip(ns, "-6", "route", "add", "default", "via", prefix + "1")
            self.addresses6[ns] = address6
            if not ipv4:
                address = address6
        return ns, address

    def start(self, ns, args, log_name, **popen):
        """Starts a process inside `ns`, its standard error (and output unless piped) in a log file."""
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
        deadline = time.monotonic() + 5
        for process in self.processes:
            try:
                process.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        for ns in reversed(self.namespaces):
            run("ip", "netns", "del", ns, check=False)
        self.namespaces.clear()


def wait_for_log(process, pattern, timeout):
    """The first match of `pattern` in the process's log, or None after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(process.log_path) as log:
            match = re.search(pattern, log.read())
        if match:
            return match
        if process.poll() is not None:
            return None
        time.sleep(0.05)
    return None


def unusable_here(lab_name, tools):
    """Why a lab cannot run on this machine (not root, a tool missing, no namespaces), or None.

    Also removes namespaces a stopped earlier run left behind, and makes a stopped run remove its
    own (its cases clean up in `finally`)."""
    import shutil
    import sys
    import tempfile

    if os.geteuid() != 0:
        return f"the {lab_name} needs root (network namespaces, nftables)"
    missing = [tool for tool in ("ip", "nft", *tools) if not shutil.which(tool)]
    if missing:
        return f"the {lab_name} needs {', '.join(missing)} (scripts/install-deps installs them)"
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    remove_stale_namespaces()
    try:
        Lab(tempfile.gettempdir()).close()
    except RuntimeError as e:
        return f"cannot make network namespaces here: {e}"
    return None
