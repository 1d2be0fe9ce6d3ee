"""miniupnpd (UPnP IGD and NAT-PMP) in the foreground on a lab router, with its nftables backend.

miniupnpd refuses to forward ports while its WAN address lies in a reserved range, which every
range safe for a lab is; it then asks a STUN server for its public address, and the lab's STUN
responder on the internet answers with that same WAN address."""

import os

import netlab

STUN_PORT = 3478

# The tables and chains miniupnpd adds its rules to (the names its configuration below gives).
CHAINS = """
table inet miniupnpd {
  chain forward { type filter hook forward priority filter; policy accept; jump miniupnpd; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority dstnat; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority srcnat; policy accept; jump postrouting_miniupnpd; }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
}
"""


def start_stun(lab, ns, address):
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stun_responder.py")
    process = lab.start(ns, ["python3", script, address, str(STUN_PORT)], "stun.log")
    if not netlab.wait_for_log(process, r"stun ready", 10):
        raise RuntimeError("the STUN responder did not start")


def start_miniupnpd(lab, router_ns, lan, stun_address, natpmp=True):
    """Starts miniupnpd on the router's "lan" for the LAN `lan`.0/24, with NAT-PMP unless `natpmp`
    is false (UPnP IGD alone); returns once it listens."""
    lab.exec(router_ns, "nft", "-f", "-", stdin=CHAINS)
    config = os.path.join(lab.workdir, "miniupnpd.conf")
    with open(config, "w") as f:
        f.write(f"""ext_ifname=wan
listening_ip=lan
enable_upnp=yes
enable_natpmp={"yes" if natpmp else "no"}
secure_mode=yes
ext_perform_stun=yes
ext_stun_host={stun_address}
ext_stun_port={STUN_PORT}
upnp_table_name=miniupnpd
upnp_nat_table_name=miniupnpd
lease_file={os.path.join(lab.workdir, "miniupnpd.leases")}
uuid=8c1a6c5e-5a3c-4e0b-9d7e-2f6d1c0b9a11
allow 1-65535 {lan}.0/24 1-65535
deny 0-65535 0.0.0.0/0 0-65535
""")
    pid_file = os.path.join(lab.workdir, "miniupnpd.pid")
    process = lab.start(router_ns, ["miniupnpd", "-d", "-f", config, "-P", pid_file], "miniupnpd.log")
    if not netlab.wait_for_log(process, r"Port forwarding is now enabled", 20):
        raise RuntimeError(f"miniupnpd does not forward ports (see {process.log_path})")
    if not netlab.wait_for_log(process, r"HTTP listening on port \d+", 5):
        raise RuntimeError(f"miniupnpd did not start (see {process.log_path})")
    if natpmp and not netlab.wait_for_log(process, r"Listening for NAT-PMP", 5):
        raise RuntimeError(f"miniupnpd does not answer NAT-PMP (see {process.log_path})")
