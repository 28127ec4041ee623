#!/usr/bin/env python3
"""chromium_clicks.py PROFILE HANDED < LINKS: clicks each link in Chromium, as a player clicks a
link on a server list, one click each, and ends Chromium once HANDED, where the links' handler
writes, has stopped growing.

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
import subprocess
import sys
import threading
import time

# A link Chromium will not open sends its target to about:blank#blocked: a hidden frame here, so
# the page stays for the next click.
PAGE = b"""<!DOCTYPE html><title>Quarrion servers</title><body style="margin:0">
<iframe name="sink" style="display:none"></iframe>
<a id="join" target="sink" style="position:fixed;inset:0;background:#ccc">Join</a>"""


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

    def call(self, method, **params):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.writer, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" in self.pending:
                raw, self.pending = self.pending.split(b"\0", 1)
                answer = json.loads(raw)
                if answer.get("id") == self.last:
                    if "error" in answer:
                        raise RuntimeError(f"{method}: {answer['error']}")
                    return answer["result"]
            chunk = os.read(self.reader, 65536)
            if not chunk:
                raise RuntimeError("Chromium ended")
            self.pending += chunk


def settle(path):
    """Until the file has grown and then not for two seconds; at most 30 s before it first grows."""
    size, since, deadline = 0, time.time(), time.time() + 30
    while (size == 0 and time.time() < deadline) or (size and time.time() < since + 2):
        now = os.path.getsize(path) if os.path.exists(path) else 0
        if now != size:
            size, since = now, time.time()
        time.sleep(0.1)


def main(profile, handed):
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
        ready = "document.readyState == 'complete'"
        while not browser.call("Runtime.evaluate", expression=ready)["result"]["value"]:
            if time.time() > deadline:
                raise RuntimeError("Chromium did not load the page")
            time.sleep(0.1)
        # Input in the first moments after the page loads can be dropped.
        time.sleep(1)
        for link in sys.stdin.read().splitlines():
            browser.call("Runtime.evaluate", expression=f"document.getElementById('join').href = {json.dumps(link)}")
            for kind in ("mousePressed", "mouseReleased"):
                browser.call("Input.dispatchMouseEvent", type=kind, x=100, y=100, button="left", clickCount=1)
        settle(handed)
    finally:
        browser.browser.terminate()
        browser.browser.wait()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
