"""The two browsers as the install test drives them, each through its own remote protocol:
Chromium's debugging protocol on a pipe (no port to share) and Firefox's Marionette on a port that
Firefox picks itself. Neither loads the extension: the package has installed it."""
import json
import os
import select
import socket
import subprocess
import time


class BrowserError(Exception):
    pass


class Chromium:
    """Chromium with a profile of the caller's own; commands and answers are JSON ended by NUL."""

    def __init__(self, profile, env, log, extra_args=()):
        to_browser_r, to_browser_w = os.pipe()
        from_browser_r, from_browser_w = os.pipe()
        # The protocol's pipe is the browser's descriptors 3 (commands) and 4 (answers).
        arguments = ["--remote-debugging-pipe", "--no-sandbox", "--test-type", "--user-data-dir=" + profile,
                     "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-quic", "--password-store=basic",
                     "--window-size=1000,700", *extra_args, "about:blank"]
        self.process = subprocess.Popen(
            ["sh", "-c", 'exec chromium "$@" 3<&%d 4>&%d' % (to_browser_r, from_browser_w), "chromium", *arguments],
            env=env, stdout=log, stderr=subprocess.STDOUT, pass_fds=(to_browser_r, from_browser_w))
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.write = os.fdopen(to_browser_w, "wb", buffering=0)
        self.read = os.fdopen(from_browser_r, "rb", buffering=0)
        self.buffer = b""
        self.next_id = 1
        self._wait_ready()

    def command(self, method, params=None, session=None, timeout=30):
        ident = self.next_id
        self.next_id += 1
        message = {"id": ident, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self.write.write(json.dumps(message).encode() + b"\0")
        end = time.monotonic() + timeout
        while True:
            while b"\0" not in self.buffer:
                left = end - time.monotonic()
                if left <= 0 or self.process.poll() is not None:
                    raise BrowserError("no answer to " + method)
                if select.select([self.read], [], [], min(left, 1.0))[0]:
                    chunk = self.read.read(1 << 16)
                    if not chunk:
                        raise BrowserError("the browser closed its pipe")
                    self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == ident:
                if "error" in answer:
                    raise BrowserError("%s: %s" % (method, answer["error"].get("message")))
                return answer.get("result", {})

    def _wait_ready(self):
        # A command written while the browser starts may go unanswered: ask until it answers.
        end = time.monotonic() + 60
        while True:
            try:
                return self.command("Browser.getVersion", timeout=2)
            except BrowserError:
                if time.monotonic() > end or self.process.poll() is not None:
                    raise

    def targets(self):
        return self.command("Target.getTargets")["targetInfos"]

    def open(self, url):
        """A new tab with the URL; its session."""
        target = self.command("Target.createTarget", {"url": url})["targetId"]
        session = self.command("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        return target, session

    def evaluate(self, session, expression, timeout=30):
        result = self.command("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                   "returnByValue": True}, session, timeout)
        if "exceptionDetails" in result:
            raise BrowserError("script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def screenshot(self, session, path):
        import base64
        data = self.command("Page.captureScreenshot", {"format": "png"}, session)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        if self.process.poll() is None:
            try:
                self.command("Browser.close", timeout=5)
            except (BrowserError, OSError):
                pass
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Firefox:
    """Firefox ESR with a fresh profile, driven through Marionette ("length:json" messages)."""

    def __init__(self, profile, env, log):
        os.makedirs(profile, exist_ok=True)
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.write("\n".join('user_pref("%s", %s);' % pref for pref in [
                ("marionette.port", "0"), ("browser.shell.checkDefaultBrowser", "false"),
                ("browser.aboutwelcome.enabled", "false"),
                ("browser.startup.homepage_override.mstone", '"ignore"'),
                ("datareporting.policy.dataSubmissionEnabled", "false"), ("app.update.enabled", "false"),
                ("browser.translations.automaticallyPopup", "false")]) + "\n")
        self.profile = profile
        self.process = subprocess.Popen(
            ["firefox-esr", "--marionette", "--remote-allow-system-access", "--no-remote", "--profile", profile,
             "about:blank"], env=env, stdout=log, stderr=subprocess.STDOUT)
        port_file = os.path.join(profile, "MarionetteActivePort")
        end = time.monotonic() + 90
        while not os.path.exists(port_file) or not open(port_file).read().strip():
            if time.monotonic() > end or self.process.poll() is not None:
                raise BrowserError("Marionette did not start")
            time.sleep(0.2)
        self.socket = socket.create_connection(("127.0.0.1", int(open(port_file).read())), timeout=60)
        self.buffer = b""
        self.next_id = 1
        self._receive()  # the greeting
        self.command("WebDriver:NewSession", {"capabilities": {}})

    def _receive(self):
        while b":" not in self.buffer:
            self._more()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            self._more()
            length, rest = self.buffer.split(b":", 1)
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def _more(self):
        chunk = self.socket.recv(1 << 16)
        if not chunk:
            raise BrowserError("Marionette closed its connection")
        self.buffer += chunk

    def command(self, name, parameters=None):
        ident = self.next_id
        self.next_id += 1
        text = json.dumps([0, ident, name, parameters or {}]).encode()
        self.socket.sendall(b"%d:%s" % (len(text), text))
        while True:
            message = self._receive()
            if isinstance(message, list) and message[1] == ident:
                if message[2]:
                    raise BrowserError("%s: %s" % (name, message[2].get("message", message[2])))
                return message[3]

    def run(self, context, script, args=()):
        self.command("Marionette:SetContext", {"value": context})
        return self.command("WebDriver:ExecuteScript", {"script": script, "args": list(args)}).get("value")

    def run_async(self, context, script, args=()):
        self.command("Marionette:SetContext", {"value": context})
        return self.command("WebDriver:ExecuteAsyncScript", {"script": script, "args": list(args)}).get("value")

    def navigate(self, url):
        self.command("Marionette:SetContext", {"value": "content"})
        self.command("WebDriver:Navigate", {"url": url})

    def screenshot(self, path):
        import base64
        self.command("Marionette:SetContext", {"value": "content"})
        data = self.command("WebDriver:TakeScreenshot", {})["value"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.command("Marionette:Quit", {"flags": ["eForceQuit"]})
        except (BrowserError, OSError):
            pass
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
