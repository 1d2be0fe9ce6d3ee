#!/usr/bin/env python3
"""Trickled-header attack on a built confabo-service, as a slow client would mount it.

320 addresses (127.1.x.y) each open as many connections as the service lets one address hold
(32), start a request and send one header byte every 5 s, so the headers never end. 40 s in, it
reports the service's open descriptors, how many attack connections it still holds, and the time
a fresh address (127.3.0.1) takes for its first request meanwhile.

  bench/service/slow_headers.py [SERVICE_BINARY]      (default build/bin/confabo-service)
"""
import os, resource, select, socket, subprocess, sys, tempfile, time

binary = sys.argv[1] if len(sys.argv) > 1 else "build/bin/confabo-service"
addresses, per_address, seconds, pace = 320, 32, 40, 5.0

soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 65536), hard))
work = tempfile.mkdtemp()
service = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", work + "/c.db", "--quiet"],
                           stdout=subprocess.PIPE, text=True, preexec_fn=lambda: resource.setrlimit(
                               resource.RLIMIT_NOFILE, (min(hard, 65536), hard)))
line = service.stdout.readline()
port = int(line.strip().rsplit(":", 1)[1])

def fresh_request(source):
    started = time.monotonic()
    s = socket.socket()
    s.settimeout(30)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    body = b"mode=USER_INFO&user_id=1"
    s.sendall(b"POST /cfb_maint.asp HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
              b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    reply = b""
    while chunk := s.recv(4096):
        reply += chunk
    s.close()
    return time.monotonic() - started, reply.split(b" ", 2)[1] if reply else b"-"

attack = []
for a in range(addresses):
    source = "127.1.%d.%d" % (a // 250, a % 250 + 1)
    for _ in range(per_address):
        s = socket.socket()
        s.setblocking(False)
        s.bind((source, 0))
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        attack.append(s)
poller = select.poll()
poller.register(attack[-1], select.POLLOUT)
poller.poll(5000)
for s in attack:
    try:
        s.send(b"POST /cfb_maint.asp HTTP/1.0\r\nX-Slow: ")
    except OSError:
        pass
start = time.monotonic()
next_byte = start + pace
while time.monotonic() - start < seconds:
    time.sleep(max(0.0, min(next_byte, start + seconds) - time.monotonic()))
    if time.monotonic() >= next_byte:
        for s in attack:
            try:
                s.send(b"a")
            except OSError:
                pass
        next_byte += pace

def still_open(s):
    try:
        return s.recv(1, socket.MSG_DONTWAIT | socket.MSG_PEEK) != b""
    except BlockingIOError:
        return True
    except OSError:
        return False

descriptors = len(os.listdir("/proc/%d/fd" % service.pid))
held = sum(still_open(s) for s in attack)
took, status = fresh_request("127.3.0.1")
print("after %d s of %d trickling connections from %d addresses: service descriptors %d, attack connections "
      "held %d, a fresh address's first request %.3f s (HTTP %s)"
      % (seconds, len(attack), addresses, descriptors, held, took, status.decode()))
for s in attack:
    s.close()
service.terminate()
service.wait()
