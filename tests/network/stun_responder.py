"""A minimal STUN binding responder (RFC 5389): answers every binding request with the address and
port it came from. The lab's UPnP router asks it for its public address, as miniupnpd does on a
WAN address that it would otherwise take for a private one."""

import socket
import struct
import sys

MAGIC_COOKIE = 0x2112A442
BINDING_REQUEST, BINDING_RESPONSE = 0x0001, 0x0101
MAPPED_ADDRESS, XOR_MAPPED_ADDRESS = 0x0001, 0x0020


def response(request, host, port):
    kind, _length, cookie = struct.unpack("!HHI", request[:8])
    if kind != BINDING_REQUEST:
        return None
    address = socket.inet_aton(host)
    xored = struct.unpack("!I", address)[0] ^ MAGIC_COOKIE
    body = struct.pack("!HHBBH4s", MAPPED_ADDRESS, 8, 0, 1, port, address)
    body += struct.pack("!HHBBHI", XOR_MAPPED_ADDRESS, 8, 0, 1, port ^ (MAGIC_COOKIE >> 16), xored)
    return struct.pack("!HHI", BINDING_RESPONSE, len(body), cookie) + request[8:20] + body


def main():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((sys.argv[1], int(sys.argv[2])))
    print("stun ready", flush=True)
    while True:
        request, (host, port) = sock.recvfrom(2048)
        answer = response(request, host, port) if len(request) >= 20 else None
        if answer:
            sock.sendto(answer, (host, port))


if __name__ == "__main__":
    main()
