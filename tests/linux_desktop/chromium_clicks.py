#!/usr/bin/env python3
"""chromium_clicks.py PROFILE HANDED [SHOWN] < LINKS: clicks each link in Chromium, as a player
clicks a link on a server list, one click each, and ends Chromium once HANDED, where the links'
handler writes, has stopped growing (sooner once it holds SHOWN lines, those docs/links.md shows
arriving).

The link opens in the page's own frame, as a player's does: Chromium refuses links that carry a
user name (`a@1`) in a frame within a page, never at the top.

The page comes from a local web server, whose origin the throwaway profile lets open quarrion://
links without asking (Chromium's "Always allow" for that site). As root, Chromium runs only
without its sandbox; the page is our own. The clicks are real mouse input,
sent through the DevTools protocol over a pipe: Chromium lets a page open an outside program only
after input, once per click.
"""
import fcntl
import http.server
import json
import os
import select
import subprocess
import sys
import threading
import time

PAGE = b"""<!DOCTYPE html><title>Quarrion servers</title><body style="margin:0">
<a id="join" style="position:fixed;inset:0;background:#ccc">Join</a>"""


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


class DevTools:
    """The DevTools protocol on file descriptors 3 (to Chromium) and 4 (from it)."""

    def __init__(self, profile, url):
        to_browser, self.writer = os.pipe()
        self.reader, from_browser = os.pipe()
        # Out of the way of 3 and 4, where Chromium takes them.
        moved = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser, from_browser)]
        os.close(to_browser)
        os.close(from_browser)
        to_browser, from_browser = moved

        def descriptors():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self.browser = subprocess.Popen(
            ["chromium", "--no-sandbox", "--remote-debugging-pipe", f"--user-data-dir={profile}",
             "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--password-store=basic", "--window-size=800,600", url],
            preexec_fn=descriptors, close_fds=False, stdin=subprocess.DEVNULL,
            stdout=open(f"{profile}.log", "w"), stderr=subprocess.STDOUT)
        os.close(to_browser)
        os.close(from_browser)
        self.pending = b""
        self.last = 0
        self.session = None
        self.events = []  # the names of the page's events, in order, until taken
        self.answers = {}

    def read(self, timeout=None):
        """Takes in what Chromium has said within TIMEOUT seconds; False when it said nothing."""
        if not select.select([self.reader], [], [], timeout)[0]:
            return False
        chunk = os.read(self.reader, 65536)
        if not chunk:
            raise RuntimeError("Chromium ended")
        self.pending += chunk
        while b"\0" in self.pending:
            raw, self.pending = self.pending.split(b"\0", 1)
            message = json.loads(raw)
            if "id" in message:
                self.answers[message["id"]] = message
            else:
                self.events.append(message["method"])
        return True

    def call(self, method, **params):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.writer, json.dumps(message).encode() + b"\0")
        while self.last not in self.answers:
            self.read()
        answer = self.answers.pop(self.last)
        if "error" in answer:
            raise RuntimeError(f"{method}: {answer['error']}")
        return answer["result"]

    def event(self, name, seconds):
        """Whether the page's event NAME came within SECONDS; those before it are dropped."""
        deadline = time.time() + seconds
        while name not in self.events:
            if time.time() >= deadline:
                return False
            self.read(deadline - time.time())
        del self.events[: self.events.index(name) + 1]
        return True

    def click(self, link):
        """One click that Chromium took, then until its navigation ended (opened or refused)."""
        self.call("Runtime.evaluate", expression=f"document.getElementById('join').href = {json.dumps(link)}")
        self.events.clear()
        # Input in the first moments after a page loads can be dropped: then no navigation starts.
        for _ in range(5):
            for kind in ("mousePressed", "mouseReleased"):
                self.call("Input.dispatchMouseEvent", type=kind, x=100, y=100, button="left", clickCount=1)
            if self.event("Page.frameRequestedNavigation", 10):
                break
        else:
            raise RuntimeError(f"Chromium took no click on {link}")
        if not self.event("Page.frameStoppedLoading", 30):
            raise RuntimeError(f"Chromium never ended the navigation to {link}")

    def show(self, url, deadline):
        """The page at URL, loaded."""
        self.call("Page.navigate", url=url)
        ready = f"location.href == {json.dumps(url)} && document.readyState == 'complete'"
        while not self.call("Runtime.evaluate", expression=ready)["result"]["value"]:
            if time.time() > deadline:
                raise RuntimeError("Chromium did not load the page")
            time.sleep(0.1)


def settle(path, shown):
    """Until the file has SHOWN lines or more and then grows no more for two seconds; short of
    them, for 30 s; at most 120 s before it first grows."""
    lines, since, start = 0, time.time(), time.time()
    while True:
        now = sum(1 for _ in open(path)) if os.path.exists(path) else 0
        if now != lines:
            lines, since = now, time.time()
        if time.time() > (since + (2 if lines >= shown else 30) if lines else start + 120):
            return
        time.sleep(0.1)


def main(profile, handed, shown):
    server = http.server.HTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin = f"http://127.0.0.1:{server.server_port}"
    os.makedirs(f"{profile}/Default", exist_ok=True)
    with open(f"{profile}/Default/Preferences", "w") as preferences:
        json.dump({"protocol_handler": {"allowed_origin_protocol_pairs": {origin: {"quarrion": True}}}}, preferences)
    browser = DevTools(profile, origin + "/")
    try:
        deadline = time.time() + 60
        while True:
            pages = [t for t in browser.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]
            if pages and pages[0]["url"].startswith(origin):
                break
            if time.time() > deadline:
                raise RuntimeError("Chromium did not show the page")
            time.sleep(0.2)
        browser.session = browser.call("Target.attachToTarget", targetId=pages[0]["targetId"], flatten=True)["sessionId"]
        browser.call("Page.enable")
        browser.show(origin + "/", deadline)
        for link in sys.stdin.read().splitlines():
            browser.click(link)
            # A link Chromium will not open takes the page to about:blank#blocked.
            if browser.call("Runtime.evaluate", expression="location.href")["result"]["value"] != origin + "/":
                browser.show(origin + "/", time.time() + 60)
        settle(handed, shown)
    finally:
        browser.browser.terminate()
        browser.browser.wait()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 1)
