"""A `confabo-cli session` inside a lab namespace: commands in, one JSON object a line out."""

import json
import os
import queue
import re
import subprocess
import threading
import time

REACHABILITY = re.compile(r"Reachability:\s*(.+)")


def reachability_of(line, event):
    """The text of a "Reachability: <text>" line, whether printed bare or inside a JSON event."""
    if event is None:
        match = REACHABILITY.match(line)
        return match.group(1).strip() if match else None
    if event.get("event") == "reachability":
        for key in ("text", "reachability", "message"):
            if isinstance(event.get(key), str):
                return REACHABILITY.sub(r"\1", event[key]).strip()
    for value in event.values():
        if isinstance(value, str):
            match = REACHABILITY.match(value)
            if match:
                return match.group(1).strip()
    return None


class CliSession:
    def __init__(self, lab, ns, cli, handle, server):
        self.handle = handle
        self.password = "pw-" + handle
        self.lab, self.ns, self.cli = lab, ns, cli
        self.config_dir = os.path.join(lab.workdir, handle)
        self.server = server
        self.events = queue.Queue()
        self.reachability = None
        self.process = None

    def common(self):
        return ["--config-dir", self.config_dir, "--server", self.server]

    def register(self):
        result = self.lab.exec(self.ns, self.cli, "register", "--handle", self.handle, "--password", self.password,
            "--email", f"{self.handle}@example.org", *self.common(), check=False)
        if result.returncode != 0:
            raise RuntimeError(f"cannot register {self.handle}: {result.stderr.strip()}")

    def start(self):
        """Signs in; returns the monotonic time the service accepted the sign-in."""
        self.process = self.lab.start(self.ns,
            [self.cli, "session", "--handle", self.handle, "--password", self.password, *self.common()],
            f"{self.handle}.log", stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()
        if not self.wait(lambda e: e.get("event") == "signed_in", 20):
            raise RuntimeError(f"{self.handle} did not sign in (see {self.process.log_path})")
        return time.monotonic()

    def _read(self):
        for line in self.process.stdout:
            line = line.strip()
            try:
                event = json.loads(line)
            except ValueError:
                event = None
            text = reachability_of(line, event if isinstance(event, dict) else None)
            if text:
                self.reachability = text
            if isinstance(event, dict):
                self.events.put((time.monotonic(), event))

    def say(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait(self, matches, timeout):
        """The first event `matches` accepts within `timeout` seconds, or None; others are dropped."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                _, event = self.events.get(timeout=left)
            except queue.Empty:
                return None
            if matches(event):
                return event

    def ask(self, line, result, timeout=20):
        """Sends a command and returns its result object (the event named `result`)."""
        self.say(line)
        answer = self.wait(lambda e: e.get("result") == result, timeout)
        if answer is None:
            raise RuntimeError(f"{self.handle}: no answer to {line!r}")
        return answer

    def quit(self):
        if self.process and self.process.poll() is None:
            try:
                self.say("quit")
                self.process.stdin.close()
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                pass
