#!/usr/bin/env python3
"""Floods a real desktop client's data port, as a hostile peer would, and measures what its user feels.

Starts confabo-service, registers two users with confabo-cli (the victim, who has the other as a
buddy, and that buddy, kept online by a confabo-cli session at 127.0.0.2), writes the victim's
settings store (flood_profile) and, for each flood, starts a fresh `confabo` signed in as the victim
on an Xvfb display of its own (live video from a one-frame Y4M file, speech off). Each flood lasts SECONDS and comes from plain UDP sockets on 127.0.0.1:

  random     random bytes, 1 to 65,507 a datagram, 500 datagrams/s
  strangers  one message each from a new handle that is nobody's buddy, 100/s
  lines      64,990-character lines from the buddy, 10/s
  frames     from the buddy, 20 video frames/s, each a whole 8192x4096 JPEG of one colour,
             arithmetic-coded into 214 bytes (jpegtran, from libjpeg-turbo-progs): a 128 MB
             picture wherever it is decoded at full size
  xml        from the buddy, 10/s: documents cut short alternating with 64 KB documents that parse
             and carry ~44,000 characters of text among character references, comments and
             elements nobody reads
  handshakes encrypted-channel handshake initiations, 5,000/s from 100 sockets bound to
             127.0.0.10 .. 127.0.0.109: each 210 bytes (type 1, three zero bytes, a random index,
             random bytes for the Noise part) with a correct mac1 made from the victim's public
             key, looked up at the service as any user can (USER_FIND, USER_INFO's public_key),
             so the cheap check passes and the client's handshake guard has to do its work;
             mac2 zeros. About a third into the flood (at a random moment within a second) the
             buddy's session is killed and a new one signs in (no session with the victim yet)
             and sends a line: reported is whether and when that line shows in the victim's
             window (its transcript, found before the flood by a line the buddy sent then), up to
             5 s after the flood, and the cookie replies the flood sockets got

Reported per flood: the datagrams the kernel dropped at the client's data port (it did not read
them in time); the client's RSS before, at its peak during the flood and 10 s after it ended;
its CPU during the flood (per cent of one core); and the time a typed character takes to show in
the main window's message box, before, during (a quarter, half and three quarters into it) and right
after the flood. That time is measured from outside, as a user would feel it: `xdotool windowfocus`
(a click back into the main window, which an invitation question may have taken the focus from),
then `xdotool key`, then the message box's pixels (found at start by typing a character and
comparing window captures, `xwd`, less the blinking caret) are polled until they change; it
includes xdotool's own ~15 ms. A client that never shows it within 30 s is reported as ">30000".

  bench/client/flood/flood.py [--client BIN] [--build DIR] [--seconds N] [FLOOD ...]
      (--build: where confabo-service, confabo-cli and bench/flood_profile are; default build;
       --client: the confabo to flood, default BUILD/bin/confabo; FLOOD_SCREENSHOT=FILE.png saves
       the screen when typing shows nowhere)
"""
import argparse, atexit, base64, hashlib, os, queue, random, re, shutil, socket, struct, subprocess, sys, tempfile, threading, time
import multiprocessing, urllib.parse, urllib.request

FLOODS = ["random", "strangers", "lines", "frames", "xml", "handshakes"]
VICTIM, BUDDY, PASSWORD = "victima", "floodbuddy", "flood-pw"

parser = argparse.ArgumentParser()
parser.add_argument("--build", default="build")
parser.add_argument("--client")
parser.add_argument("--seconds", type=float, default=20.0)
parser.add_argument("floods", nargs="*", default=FLOODS)
options = parser.parse_args()
build = os.path.abspath(options.build)
# The display and the tools that look at it, and jpegtran for the frames flood (Debian packages).
TOOLS = {"Xvfb": "xvfb", "xdotool": "xdotool", "xwd": "x11-apps", "jpegtran": "libjpeg-turbo-progs"}
missing = sorted({package for tool, package in TOOLS.items() if not shutil.which(tool)})
if missing:
    raise SystemExit("flood.py needs: apt-get install " + " ".join(missing))
client = os.path.abspath(options.client or os.path.join(build, "bin/confabo"))
work = tempfile.mkdtemp(prefix="confabo-flood-")
children = []


def start(args, **kw):
    process = subprocess.Popen(args, **kw)
    children.append(process)
    return process


def free_udp_port():
    """A free UDP port below 32768 (data ports are 16-bit signed numbers)."""
    while True:
        port = random.randint(20000, 32000)
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            s.bind(("0.0.0.0", port))
            return port
        except OSError:
            continue
        finally:
            s.close()


def cleanup():
    for process in reversed(children):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
    shutil.rmtree(work, ignore_errors=True)


atexit.register(cleanup)


def cli(*args, stdin=None):
    return subprocess.run([os.path.join(build, "bin/confabo-cli"), *args], input=stdin, text=True,
                          capture_output=True, timeout=60)


# --- the service, the two users, the buddy online ------------------------------------------------

service = start([os.path.join(build, "bin/confabo-service"), "--listen", "127.0.0.1:0", "--db",
                 os.path.join(work, "c.db"), "--quiet"], stdout=subprocess.PIPE, text=True)
server = "127.0.0.1:%s" % service.stdout.readline().strip().rsplit(":", 1)[1]
data_port = free_udp_port()
common = ["--server", server, "--data-port", str(data_port)]
for handle in (VICTIM, BUDDY):
    done = cli("register", "--config-dir", os.path.join(work, "cli-" + handle), *common, "--handle", handle,
               "--password", PASSWORD, "--email", handle + "@example.org")
    assert done.returncode == 0, done.stderr
# The victim's first sign-in (the service's welcome) and its buddy.
done = cli("session", "--config-dir", os.path.join(work, "cli-" + VICTIM), *common, "--handle", VICTIM,
           "--password", PASSWORD, stdin="add %s\nquit\n" % BUDDY)
assert '"ok":true' in done.stdout.replace(" ", ""), done.stdout + done.stderr


def start_buddy(stdout=subprocess.DEVNULL):
    """The buddy's confabo-cli session at 127.0.0.2 (its key in its own settings store)."""
    return start([os.path.join(build, "bin/confabo-cli"), "session", "--config-dir", os.path.join(work, "cli-" + BUDDY),
                  "--server", server, "--data-port", str(free_udp_port()), "--data-address", "127.0.0.2", "--handle",
                  BUDDY, "--password", PASSWORD], stdin=subprocess.PIPE, stdout=stdout, stderr=subprocess.DEVNULL)


buddy = start_buddy()
profile = os.path.join(work, "victim")
subprocess.run([os.path.join(build, "bench/flood_profile"), profile, server, VICTIM, PASSWORD, str(data_port)],
               check=True)

xvfb = start(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
display = ":" + xvfb.stdout.readline().strip()
env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=profile, QT_QPA_PLATFORM="xcb")
env.pop("WAYLAND_DISPLAY", None)


# --- looking at the client from outside -----------------------------------------------------------

def proc_rss_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1)) / 1024


def proc_cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, timeout=30).stdout


def capture(window):
    """The window's pixels as (width, height, bytes per line, bytes), or None."""
    out = subprocess.run(["xwd", "-silent", "-id", window], env=env, capture_output=True, timeout=30).stdout
    if len(out) < 100:
        return None
    header = struct.unpack(">25I", out[:100])
    size, width, height, bpl, ncolors = header[0], header[4], header[5], header[12], header[19]
    return width, height, bpl, out[size + ncolors * 12:]


def region_of(shot, pixels):
    """The bytes of the given pixels of a capture."""
    bpl, data = shot[2], shot[3]
    return b"".join(data[y * bpl + x * 4:y * bpl + x * 4 + 4] for x, y in pixels)


def changed_pixels(a, b):
    width, height, bpl, pa = a
    pb = b[3]
    return {(x, y) for y in range(height) if pa[y * bpl:y * bpl + width * 4] != pb[y * bpl:y * bpl + width * 4]
            for x in range(width) if pa[y * bpl + x * 4:y * bpl + x * 4 + 4] != pb[y * bpl + x * 4:y * bpl + x * 4 + 4]}


def still_video():
    """A one-frame Y4M file: live video that never changes the window (the test pattern's clock would)."""
    path = os.path.join(work, "still.y4m")
    with open(path, "wb") as f:
        f.write(b"YUV4MPEG2 W160 H120 F5:1 Ip A1:1 C420jpeg\nFRAME\n")
        f.write(bytes([90]) * (160 * 120) + bytes([110]) * (80 * 60) + bytes([150]) * (80 * 60))
    return path


class Client:
    def __init__(self):
        self.process = start([client, "--video-source", still_video()], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        # Signed in once the data port is bound; the buddy's tab then has a moment to appear.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not self.port_bound():
            time.sleep(0.2)
        time.sleep(3)
        self.window = None
        while time.monotonic() < deadline and not self.window:
            for w in xdotool("search", "--onlyvisible", "--pid", str(self.process.pid)).split():
                if xdotool("getwindowname", w).strip() == "Confabo" and capture(w):
                    self.window = w
            time.sleep(0.2)
        assert self.window, "no main window"
        self.box = self.find_message_box()

    def port_bound(self):
        hexport = ":%04X" % data_port
        with open("/proc/net/udp") as f:
            return any(line.split()[1].endswith(hexport) for line in f.readlines()[1:])

    def kernel_drops(self):
        """Datagrams the kernel dropped at the data port because the client did not read them in time."""
        hexport = ":%04X" % data_port
        with open("/proc/net/udp") as f:
            return sum(int(line.split()[-1]) for line in f.readlines()[1:] if line.split()[1].endswith(hexport))

    def focus(self):
        xdotool("windowfocus", self.window)

    def find_message_box(self):
        """The pixels where a typed character shows, less those that change by themselves (the
        blinking caret). Tab moves the keyboard focus on until typing
        shows somewhere."""
        self.focus()
        for _ in range(20):
            first = capture(self.window)
            noise = set()
            for _ in range(25):
                time.sleep(0.1)
                noise |= changed_pixels(first, capture(self.window))
            before = capture(self.window)
            xdotool("key", "W")
            time.sleep(0.5)
            typed = changed_pixels(before, capture(self.window)) - noise
            if len(typed) >= 4:
                xdotool("key", "BackSpace")
                xs, ys = [x for x, _ in typed], [y for _, y in typed]
                return [(x, y) for y in range(min(ys), max(ys) + 1) for x in range(min(xs), max(xs) + 1)
                        if (x, y) not in noise]
            xdotool("key", "Tab")
        if os.environ.get("FLOOD_SCREENSHOT"):
            subprocess.run(["import", "-window", "root", os.environ["FLOOD_SCREENSHOT"]], env=env)
        raise SystemExit("typing shows nowhere in the window")

    def settled_noise(self, seconds=2.5):
        """The pixels that change by themselves over a while (the caret, anything blinking)."""
        first = capture(self.window)
        noise = set()
        for _ in range(int(seconds * 10)):
            time.sleep(0.1)
            noise |= changed_pixels(first, capture(self.window))
        return noise

    def find_transcript(self):
        """Where a line from the buddy shows: the buddy sends one, and the band from the changed
        pixels' top to three times their height below them (where the next lines go, or what
        scrolling moves) is watched from then on, less the message box and what changes by itself."""
        noise = self.settled_noise()
        before = capture(self.window)
        buddy.stdin.write(("send --port %d %s a line before the flood\n" % (data_port, VICTIM)).encode())
        buddy.stdin.flush()
        box = set(self.box)
        changed = set()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and len(changed) < 20:
            time.sleep(0.2)
            changed = changed_pixels(before, capture(self.window)) - noise - box
        if len(changed) < 20:
            raise SystemExit("the buddy's line shows nowhere in the window")
        time.sleep(1.0)
        changed = changed_pixels(before, capture(self.window)) - noise - box
        noise |= self.settled_noise()
        xs, ys = [x for x, _ in changed], [y for _, y in changed]
        top, bottom = min(ys), max(ys)
        bottom = min(before[1] - 1, bottom + 3 * (bottom - top + 1))
        self.transcript = [(x, y) for y in range(top, bottom + 1) for x in range(min(xs), max(xs) + 1)
                           if (x, y) not in noise and (x, y) not in box]

    def typing_delay(self, timeout=30.0):
        """Seconds from pressing a key to the message box showing it (None when it never did)."""
        self.focus()  # as a user would click back into the main window
        time.sleep(0.05)
        shot = capture(self.window)
        if shot is None:
            return None
        before = region_of(shot, self.box)
        started = time.monotonic()
        xdotool("key", "x")
        shown = None
        while time.monotonic() - started < timeout:
            shot = capture(self.window)
            if shot and region_of(shot, self.box) != before:
                shown = time.monotonic() - started
                break
            time.sleep(0.01)
        xdotool("key", "BackSpace")
        return shown

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


# --- the floods ------------------------------------------------------------------------------------

def message(handle, text):
    escaped = text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return ("<body><from_handle>%s</from_handle><email>%s@example.org</email><video_port>0</video_port>"
            "<message>%s</message></body>" % (handle, handle, escaped)).encode("cp1252")


def oversized_jpeg():
    """A whole, valid JPEG of 8192x4096 pixels of one colour, arithmetic-coded: about 214 bytes."""
    plain = os.path.join(work, "large.jpg")
    subprocess.run(["convert", "-size", "8192x4096", "xc:#3060a0", "-quality", "50", "-strip", plain], check=True)
    return subprocess.run(["jpegtran", "-arithmetic", plain], check=True, capture_output=True).stdout


def flood_datagrams(kind):
    """An endless supply of (datagram) for one flood, and its rate per second."""
    if kind == "random":
        pool = [os.urandom(random.randint(1, 65507)) for _ in range(64)]
        return (random.choice(pool) for _ in iter(int, 1)), 500
    if kind == "strangers":
        return (message("stranger%05d" % n, "buy now, number %d" % n) for n in range(10 ** 6)), 100
    if kind == "lines":
        words = ("lorem ipsum dolor sit amet " * 2500)[:64990]
        return (message(BUDDY, "%d %s" % (n, words)) for n in range(10 ** 6)), 10
    if kind == "frames":
        jpeg = base64.b64encode(oversized_jpeg()).decode()
        frame = ('<body><from_handle>%s</from_handle><video_data xmlns:dt="urn:schemas-microsoft-com:datatypes" '
                 'dt:dt="bin.base64">%s</video_data></body>' % (BUDDY, jpeg)).encode()
        return (frame for _ in iter(int, 1)), 20
    if kind == "xml":
        refs = ("lorem ipsum &#233;&amp; <!-- c --> dolor " * 1560)[:64000]
        whole = ("<body><from_handle>%s</from_handle><extra><deeper>x</deeper></extra><message>%s</message>"
                 "</body>" % (BUDDY, refs)).encode()
        cut = whole[:len(whole) // 2]
        return ((whole if n % 2 else cut) for n in range(10 ** 6)), 10
    if kind == "handshakes":
        return handshake_initiations(victim_public_key()), 5000
    raise SystemExit("unknown flood " + kind)


# Where each flood comes from: one socket on 127.0.0.1, or one socket bound to each address.
FLOOD_SOURCES = {"handshakes": ["127.0.0.%d" % n for n in range(10, 110)]}
COOKIE_REPLY_SIZE = 64  # type 3, three zero bytes, index, nonce (24), sealed cookie (16 + 16)


def service_request(fields):
    """One request to the service, as any user's client makes it; the reply's text."""
    request = urllib.request.Request("http://%s/cfb_maint.asp" % server, data=urllib.parse.urlencode(fields).encode(),
                                     headers={"Content-Type": "application/x-www-form-urlencoded"})
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    return opener.open(request, timeout=10).read().decode("cp1252", "replace")


def victim_public_key():
    """The victim's X25519 key as the service publishes it (USER_FIND, then USER_INFO)."""
    found = re.search(r"<user_id>(\d+)</user_id>", service_request({"mode": "USER_FIND", "handle": VICTIM}))
    info = service_request({"mode": "USER_INFO", "user_id": found.group(1)})
    key = base64.b64decode(re.search(r"<public_key>([^<]+)</public_key>", info).group(1))
    assert len(key) == 32, "the victim publishes no key"
    return key


def handshake_initiations(victim_key):
    """Endless initiations that pass the victim's mac1 check: 210 bytes, mac2 zeros."""
    mac1_key = hashlib.blake2b(b"mac1----" + victim_key, digest_size=32).digest()
    while True:
        head = bytes([1, 0, 0, 0]) + os.urandom(4 + 170)  # type, reserved, index, the Noise part
        yield head + hashlib.blake2b(head, digest_size=16, key=mac1_key).digest() + bytes(16)


def drain_cookie_replies(sockets):
    """Reads what came back to the flood sockets; the number of cookie replies."""
    replies = 0
    for s in sockets:
        while True:
            try:
                reply = s.recv(2048, socket.MSG_DONTWAIT)
            except OSError:
                break
            replies += len(reply) == COOKIE_REPLY_SIZE and reply[0] == 3
    return replies


def run_flood(kind, seconds):
    """Sends the flood for the time; the datagrams sent and the cookie replies that came back."""
    datagrams, rate = flood_datagrams(kind)
    senders = []
    for address in FLOOD_SOURCES.get(kind, [None]):
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if address:
            sender.bind((address, 0))
        senders.append(sender)
    sent = replies = 0
    longest_pause = 0.0
    started = last = time.monotonic()
    while last - started < seconds:
        wait = started + sent / rate - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        try:
            senders[sent % len(senders)].sendto(next(datagrams), ("127.0.0.1", data_port))
        except OSError:
            pass
        sent += 1
        now = time.monotonic()
        longest_pause, last = max(longest_pause, now - last), now
        if sent % rate == 0:
            replies += drain_cookie_replies(senders)
    time.sleep(0.2)
    replies += drain_cookie_replies(senders)
    for sender in senders:
        sender.close()
    return sent, replies, longest_pause


def flood_process(kind, seconds):
    """Runs the flood in a process of its own, so the harness's own threads (window captures,
    typing) never hold it up: a flood that pauses and then catches up is not the steady one asked
    for. Its result comes back when joined."""
    receiving, sending = multiprocessing.Pipe(duplex=False)
    child = multiprocessing.get_context("fork").Process(target=lambda: sending.send(run_flood(kind, seconds)))
    child.start()
    return child, receiving


def reconnect_buddy(c, deadline, found):
    """Kills the buddy's session and starts a new one, which signs in with no session to the
    victim, and sends a line; records whether the send was taken and when (until the deadline,
    5 s past the flood's end) the line showed."""
    global buddy
    buddy.kill()
    buddy.wait()
    started = time.monotonic()
    fresh = buddy = start_buddy(stdout=subprocess.PIPE)
    events = queue.Queue()
    threading.Thread(target=lambda: [events.put(line.decode(errors="replace")) for line in fresh.stdout],
                     daemon=True).start()
    signed_in = False
    while not signed_in and time.monotonic() < deadline:
        try:
            signed_in = '"event":"signed_in"' in events.get(timeout=1).replace(" ", "")
        except queue.Empty:
            pass
    found["signed_in"] = signed_in and time.monotonic() - started
    if not signed_in:
        return
    before = region_of(capture(c.window), c.transcript)
    sent_at = time.monotonic()
    fresh.stdin.write(("send --port %d %s a line written during the flood, after signing in anew\n"
                       % (data_port, VICTIM)).encode())
    fresh.stdin.flush()
    while time.monotonic() < deadline:
        shot = capture(c.window)
        if shot and region_of(shot, c.transcript) != before:
            found["shown"] = time.monotonic() - sent_at
            found["after_flood"] = time.monotonic() > deadline - 5
            break
        time.sleep(0.02)
    while not events.empty():
        line = events.get().replace(" ", "")
        if '"result":"send"' in line:
            found["send"] = line.strip()


def measure(kind):
    c = Client()
    if kind == "handshakes":
        c.find_transcript()
    pid = c.process.pid
    rss_before = proc_rss_mb(pid)
    typing_before = c.typing_delay()
    peak = [rss_before]
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            try:
                peak[0] = max(peak[0], proc_rss_mb(pid))
            except OSError:
                return
            time.sleep(0.1)

    sampler = threading.Thread(target=sample)
    sampler.start()
    cpu0, t0, drops0 = proc_cpu_seconds(pid), time.monotonic(), c.kernel_drops()
    flooder, flood_result = flood_process(kind, options.seconds)
    reconnect, reconnected = None, {}
    if kind == "handshakes":
        def later():
            # At a random moment within a second: the guard's budgets run per second from the
            # flood's start, and a buddy that always came at the same point of that second would
            # always meet the same share of them.
            time.sleep(max(0.0, t0 + options.seconds * 0.3 + random.uniform(0, 1) - time.monotonic()))
            reconnected["at"] = time.monotonic() - t0
            reconnect_buddy(c, t0 + options.seconds + 5, reconnected)
        reconnect = threading.Thread(target=later)
        reconnect.start()
    during = []
    for at in (0.25, 0.5, 0.75):
        time.sleep(max(0.0, t0 + options.seconds * at - time.monotonic()))
        during.append(c.typing_delay(timeout=max(1.0, t0 + options.seconds + 30 - time.monotonic())))
    sent = flood_result.recv()
    flooder.join()
    if reconnect:
        reconnect.join()
    cpu = (proc_cpu_seconds(pid) - cpu0) / (time.monotonic() - t0) * 100
    dropped = c.kernel_drops() - drops0
    ended = time.monotonic()
    typing_after = c.typing_delay()
    time.sleep(max(0.0, ended + 10 - time.monotonic()))
    stop.set()
    sampler.join()
    rss_after = proc_rss_mb(pid)
    alive = c.process.poll() is None
    c.stop()
    return dict(kind=kind, sent=sent[0], replies=sent[1], pause=sent[2], rss_before=rss_before, rss_peak=peak[0],
                rss_after=rss_after, cpu=cpu, typing_before=typing_before, typing_during=during,
                typing_after=typing_after, alive=alive, reconnected=reconnected, dropped=dropped)


def ms(value):
    return ">30000" if value is None else "%d" % round(value * 1000)


try:
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print("client %s, display %s, load average %s" % (client, display, " ".join(load)))
    print("%-10s %7s %8s %9s %9s %9s %6s %9s %-20s %9s" % ("flood", "sent", "dropped", "RSS0 MB", "peak MB",
                                                             "after MB", "CPU%", "type0 ms", "type during ms",
                                                             "after ms"))
    for kind in options.floods:
        r = measure(kind)
        print("%-10s %7d %8d %9.0f %9.0f %9.0f %6.0f %9s %-20s %9s%s" % (
            r["kind"], r["sent"], r["dropped"], r["rss_before"], r["rss_peak"], r["rss_after"], r["cpu"], ms(r["typing_before"]),
            "/".join(ms(d) for d in r["typing_during"]), ms(r["typing_after"]), "" if r["alive"] else "  (died)"),
            flush=True)
        if r["kind"] == "handshakes":
            b = r["reconnected"]
            print("  handshakes: longest pause in the flood %d ms; cookie replies to the flood %d (%.0f/s); the buddy signed in anew %.1f s into the "
                  "flood (%s), its send answered %s; its line showed in the victim's window %s" % (
                      round(r["pause"] * 1000), r["replies"], r["replies"] / options.seconds, b.get("at", 0),
                      "in %.1f s" % b["signed_in"] if b.get("signed_in") else "not signed in",
                      b.get("send", "nothing"),
                      "after %d ms%s" % (round(b["shown"] * 1000),
                                         " (once the flood had ended)" if b["after_flood"] else "")
                      if "shown" in b else "not within 5 s after the flood ended"), flush=True)
    with open("/proc/loadavg") as f:
        print("load average at the end %s" % " ".join(f.read().split()[:3]))
finally:
    if buddy.poll() is None:
        buddy.stdin.write(b"quit\n")
        buddy.stdin.close()
