#!/usr/bin/env python3
"""TorvoSync end to end: the real program on Xvfb under openbox, driven with xdotool as a person
would, against a real torvo-service on the build's fixed service port, with HOME in a temporary
folder. Screenshots of every step are kept in --shots.

  sync_e2e.py --sync PATH/TorvoSync --service PATH/torvo-service --port 8765 --shots DIR
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

IDENTITY = "e2e 사용자"  # a space and Hangul: both must reach the service intact


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok:", what, flush=True)


def wait_for(predicate, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


class Run:
    def __init__(self, args):
        self.args = args
        self.tmp = tempfile.mkdtemp(prefix="torvo-sync-e2e-")
        self.data = os.path.join(self.tmp, "data")
        self.home = os.path.join(self.tmp, "home")
        self.album = os.path.join(self.home, "Torvo")
        self.runtime = os.path.join(self.tmp, "runtime")
        self.pngs = os.path.join(self.tmp, "png")
        for d in (self.home, self.runtime, self.pngs):
            os.makedirs(d)
        os.chmod(self.runtime, 0o700)
        self.shots = args.shots
        shutil.rmtree(self.shots, ignore_errors=True)
        os.makedirs(self.shots)
        self.shot_number = 0
        self.processes = []
        self.service = None
        self.service_log = os.path.join(self.tmp, "service.log")
        self.display = None
        self.env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.runtime)
        for key in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
            self.env.pop(key, None)

    # --- processes ---------------------------------------------------------------------------

    def start(self, argv, **kwargs):
        process = subprocess.Popen(argv, env=self.env, **kwargs)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def app_log(self):
        return open(os.path.join(self.tmp, "app.log"), "ab")

    def start_display(self):
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"],
                   pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display
        self.start(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: subprocess.run(["xdotool", "search", "--class", "openbox"], env=self.env,
                                        capture_output=True).returncode in (0, 1), 30, "openbox")
        time.sleep(0.5)

    def service_cli(self, *words):
        result = subprocess.run([self.args.service, *words[:2], "--data", self.data, *words[2:]], env=self.env,
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise Failure("torvo-service %s failed: %s" % (" ".join(words), result.stderr))
        return result.stdout

    def start_service(self):
        def port_free():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", self.args.port)) != 0
        # Another test on this machine may be using the fixed port for a while.
        wait_for(port_free, 180, "port %d to be free" % self.args.port)
        ready = os.path.join(self.tmp, "ready")
        log = open(self.service_log, "ab")
        self.service = self.start([self.args.service, "serve", "--data", self.data, "--port", str(self.args.port),
                                   "--ready-file", ready], stdout=subprocess.DEVNULL, stderr=log)
        wait_for(lambda: os.path.exists(ready) and os.path.getsize(ready) > 0, 10, "the service")

    def fault(self, *changes):
        query = "&".join(key + "=" + urllib.parse.quote(value, safe="") for key, value in changes)
        request = urllib.request.Request("http://127.0.0.1:%d/admin/faults?%s" % (self.args.port, query), data=b"",
                                         method="POST")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(request, timeout=5) as reply:
            return reply.read().decode()

    # --- the service's log -------------------------------------------------------------------

    def requests(self, since_last_list=False):
        """Names (without .png) of the image downloads and the number of list requests so far.
        since_last_list: only the downloads of the last sync, over any of its connections: those
        that may have begun after the last list was answered. A line is written when its request
        ends, to the second, with how long it took; a download an earlier sync gave up on is
        written late, and it began well before that list."""
        downloads, lists, list_second = [], 0, None
        with open(self.service_log, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                m = re.search(r'^\S+ (\d+):(\d+):(\d+) \S+ "GET (\S+) HTTP/1\.1" \d+ \S+ ([\d.]+)ms', line)
                if not m:
                    continue
                hours, minutes, seconds, target, took_ms = m.groups()
                second = int(hours) * 3600 + int(minutes) * 60 + int(seconds)
                if target.startswith("/imgList.php?tid=") and "state=" not in target:
                    lists += 1
                    if since_last_list:
                        downloads, list_second = [], second
                elif target.startswith("/img/") and (list_second is None or
                                                     second + 1 - float(took_ms) / 1000 > list_second):
                    name = target.rsplit("/", 1)[1][:-4]
                    downloads.append(urllib.parse.unquote_to_bytes(name).decode("cp949"))
        return downloads, lists

    # --- the desktop ---------------------------------------------------------------------------

    def xdotool(self, *words):
        result = subprocess.run(["xdotool", *words], env=self.env, capture_output=True, text=True)
        return result.stdout.split()

    def window(self, title, seconds=10):
        return wait_for(lambda: (self.xdotool("search", "--onlyvisible", "--name", "^%s$" % title) or [None])[0],
                        seconds, "a window titled " + title)

    def no_window(self, title):
        return not self.xdotool("search", "--onlyvisible", "--name", "^%s$" % title)

    def shot(self, name):
        self.shot_number += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.shot_number, name))
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)
        return path

    def press_sync(self, window):
        # The button is the first control, at the window's top left.
        self.xdotool("mousemove", "--window", window, "45", "22", "click", "1")

    def viewable(self, window):
        result = subprocess.run(["xwininfo", "-id", str(window)], env=self.env, capture_output=True, text=True)
        return result.returncode == 0 and "IsViewable" in result.stdout

    def close_window(self, window):
        """Alt+F4 as a person presses it, and again while the window stays up: on an X server
        without a window manager the press can reach no window at all (Wine's traces of such runs
        show no key arriving). Whether the program then ends is the caller's to check."""
        for _ in range(4):
            self.xdotool("windowactivate", "--sync", window)
            self.xdotool("key", "alt+F4")
            deadline = time.time() + 3
            while time.time() < deadline and self.viewable(window):
                time.sleep(0.1)
            if not self.viewable(window):
                return
            print("note: the window was still up after Alt+F4; pressing it again", flush=True)

    def answer_message(self):
        box = self.window("TorvoSync")
        self.xdotool("windowactivate", "--sync", box)
        # Through the server, press and release alike: "key --window" loses the release when the
        # window goes away on the press, and the key then repeats into the next box.
        self.xdotool("key", "Return")
        wait_for(lambda: self.no_window("TorvoSync"), 5, "the message box to close")

    # --- the album -----------------------------------------------------------------------------

    def add_image(self, name=None):
        self.png_count = getattr(self, "png_count", 0) + 1
        path = os.path.join(self.pngs, "%d.png" % self.png_count)
        with open(path, "wb") as f:
            f.write(png_bytes(self.png_count))
        words = ["image", "add", IDENTITY, path] + (["--name", name] if name is not None else [])
        out = self.service_cli(*words)
        listed = re.findall(r"\d{14}", out) if name is None else [name]
        if not listed:
            raise Failure("image add named no image: " + out)
        return listed[0], open(path, "rb").read()

    def upload_like_the_tool(self, png):
        """The upload request of TorvoTool, byte for byte; returns the stored name."""
        boundary = b"7d4b2315b01da"
        head = (b"--" + boundary + b"\r\nContent-Disposition:name=\"MAX_FILE_SIZE\"\r\n\r\n\r\n--" + boundary +
                b"\r\nContent-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
                b"Content-Type:image/pjpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n")
        tail = b"\r\n--" + boundary + b"\r\n"
        host = "127.0.0.1:%d" % self.args.port
        tid = IDENTITY.encode("cp949")
        target = (b"http://" + host.encode() + b"/imgUpload.php?tid=" + tid + b"&url=%68%74%74%70%3A%2F%2F%78" +
                  b"&title=%74&note=&public=P&folder=0")
        request = (b"POST " + target + b" HTTP/1.1\r\nContent-Type:multipart/form-data;boundary=" + boundary +
                   b"\r\nHost:127.0.0.1\r\nContent-Length:" + str(len(head) + len(png) + len(tail)).encode() +
                   b"\r\n\r\n" + head + png + tail)
        with socket.create_connection(("127.0.0.1", self.args.port), timeout=10) as s:
            s.sendall(request)
            reply = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
                if re.search(rb"\d{14}\.png", reply):
                    break
        m = re.search(rb"(\d{14})\.png", reply)
        if not m:
            raise Failure("the upload was not stored: %r" % reply[-200:])
        return m.group(1).decode()

    def files(self):
        return sorted(os.listdir(self.album)) if os.path.isdir(self.album) else []

    def read(self, name):
        with open(os.path.join(self.album, name), "rb") as f:
            return f.read()

    def wait_quiet(self, expected_downloads, seconds=20):
        """Until the service has seen that many downloads and the album has been still a moment."""
        wait_for(lambda: len(self.requests()[0]) >= expected_downloads, seconds,
                 "%d downloads" % expected_downloads)
        last = None
        still_since = time.monotonic()
        while time.monotonic() - still_since < 0.8:
            now = (self.files(), self.requests())
            if now != last:
                last, still_since = now, time.monotonic()
            time.sleep(0.1)


def png_bytes(seed):
    import struct
    import zlib
    width, height = 24, 16
    rows = b"".join(b"\x00" + bytes(((seed * 37 + x * 11 + y * 5) & 0xFF) for x in range(width * 3))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def scenario(run):
    a = run.args
    run.service_cli("user", "add", IDENTITY, "--toolbar-id", IDENTITY)
    images = {}  # name -> bytes on the service
    for _ in range(30):
        name, data = run.add_image()
        images[name] = data
    for name in ("Holiday", "사진 모음", ""):
        images[name] = run.add_image(name)[1]
    bad = ["../escape", ".hidden", "x" * 201]
    for name in bad:
        run.add_image(name)
    run.start_service()

    # What is here already: eight images under their names, one of them and "Holiday" in other case.
    names = sorted(n for n in images if re.fullmatch(r"\d{14}", n))
    os.makedirs(run.album)
    local = {}
    for name in names[:8]:
        local[name + ".png"] = b"LOCAL COPY " + name.encode()
    local[names[0] + ".PNG"] = local.pop(names[0] + ".png")
    local["HOLIDAY.png"] = b"LOCAL COPY holiday"
    for file, data in local.items():
        with open(os.path.join(run.album, file), "wb") as f:
            f.write(data)
    # An image that TorvoTool uploaded and kept under the service's name.
    uploaded_png = png_bytes(999)
    uploaded = run.upload_like_the_tool(uploaded_png)
    images[uploaded] = uploaded_png
    local[uploaded + ".png"] = uploaded_png
    with open(os.path.join(run.album, uploaded + ".png"), "wb") as f:
        f.write(uploaded_png)
    missing = sorted(n for n in images if n not in names[:8] and n not in ("Holiday", uploaded))

    run.start_display()
    app = run.start([a.sync] + IDENTITY.split(" "), stdout=subprocess.DEVNULL, stderr=run.app_log())
    window = run.window("Torvo Sync")
    time.sleep(0.5)
    run.shot("started")
    check(run.requests() == ([], 0), "nothing is fetched before the button is pressed")

    # A second copy says so and leaves the first alone.
    second = run.start([a.sync, "other"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run.window("TorvoSync")
    run.shot("second-copy-message")
    run.answer_message()
    check(second.wait(5) == 0 and app.poll() is None, "a second copy ends after its message; the first runs on")

    # First press: slow downloads, so the progress can be seen moving.
    run.fault(("add", "download:delay=120"))
    run.press_sync(window)
    wait_for(lambda: len(run.requests()[0]) >= 4, 10, "the sync to be under way")
    run.shot("syncing")
    run.fault(("clear", "download"))
    run.wait_quiet(len(missing))
    run.shot("first-sync-done")
    downloads, lists = run.requests()
    check(lists == 1, "one list request")
    check(sorted(downloads) == missing, "exactly the %d missing images were fetched" % len(missing))
    check(len(downloads) == len(set(downloads)), "no image was fetched twice")
    for name in missing:
        check(run.read(name + ".png") == images[name], "%s.png holds the service's bytes" % name)
    for file, data in local.items():
        check(run.read(file) == data, "%s was left as it was" % file)
    expected_files = sorted(set(local) | {n + ".png" for n in missing})
    check(run.files() == expected_files, "the album holds only listed images, no partial or foreign file")
    beside = [os.path.join(root, f) for root, _, files in os.walk(run.tmp) for f in files
              if "escape" in f or (f.endswith(".png") and not root.startswith((run.album, run.pngs, run.data)))]
    check(not beside, "nothing was written outside the album %s" % beside)

    # Second press: nothing fetched.
    run.press_sync(window)
    wait_for(lambda: run.requests()[1] == 2, 10, "the second list request")
    time.sleep(1.0)
    run.shot("second-sync-done")
    check(run.requests()[0] == downloads, "the second press fetches nothing")

    # Faults: a 404, a connection dropped mid-body, then a server that stops answering.
    new = [run.add_image()[0] for _ in range(4)]
    run.fault(("add", "download:status=404,times=1,match=" + new[0]),
              ("add", "download:drop,times=1,match=" + new[2]))
    run.press_sync(window)
    run.window("TorvoSync", 20)
    run.shot("dropped-connection-message")
    run.answer_message()
    downloads = run.requests(since_last_list=True)[0]
    # Images are fetched a few ahead of the one the sync is at, so the last one may have been asked
    # for too; none after the broken one is stored.
    check(set(new[:3]) <= set(downloads) <= set(new) and len(downloads) == len(set(downloads)),
          "the sync asked for the new images up to the broken one, each once: %s" % downloads)
    check(new[1] + ".png" in run.files() and new[0] + ".png" not in run.files(),
          "the 404 page was not stored; the good image was")
    check(new[2] + ".png" not in run.files() and new[3] + ".png" not in run.files(),
          "the broken download left no file, the next image was not reached")
    check(not [f for f in run.files() if f.startswith(".") and f != ".png"], "no temporary file is left")
    check(app.poll() is None, "the program runs on after a broken transfer")

    run.fault(("add", "download:delay=20000,times=1,match=" + new[0]))
    started = time.monotonic()
    run.press_sync(window)
    run.window("TorvoSync", 40)
    waited = time.monotonic() - started
    run.shot("stalled-server-message")
    run.answer_message()
    check(10 < waited < 35, "a server that stops answering is given up after %.0f s" % waited)
    check(new[0] + ".png" not in run.files(), "the stalled image left no file")

    # The failed images come on the next press.
    lists = run.requests()[1]
    run.press_sync(window)
    wait_for(lambda: run.requests()[1] > lists and len(run.requests(since_last_list=True)[0]) >= 3, 20,
             "the next sync")
    time.sleep(1.0)
    run.shot("after-faults")
    check(sorted(run.requests(since_last_list=True)[0]) == sorted([new[0], new[2], new[3]]),
          "the failed and unreached images are fetched on the next press, and only they")

    # Closing the window during a sync ends the program at once, with no partial file.
    for _ in range(3):
        run.add_image()
    run.fault(("add", "download:delay=3000"))
    lists = run.requests()[1]
    run.press_sync(window)
    wait_for(lambda: run.requests()[1] > lists, 10, "the sync to start")
    time.sleep(0.5)
    run.close_window(window)
    closed = time.monotonic()
    app.wait(10)
    check(time.monotonic() - closed < 4, "closing during a transfer ends the program within %.1f s"
          % (time.monotonic() - closed))
    check(not [f for f in run.files() if f.startswith(".") and f != ".png"], "no temporary file is left")
    run.fault(("clear", "download"))

    # Signed out: its message, and the program ends without fetching.
    run.service_cli("user", "signout", IDENTITY)
    app = run.start([a.sync] + IDENTITY.split(" "), stdout=subprocess.DEVNULL, stderr=run.app_log())
    window = run.window("Torvo Sync")
    lists = run.requests()[1]
    run.press_sync(window)
    run.window("TorvoSync")
    run.shot("signed-out-message")
    run.answer_message()
    check(app.wait(5) == 0, "the program ends after the signed-out message")
    check(run.requests()[1] == lists + 1, "the list was asked for once")
    time.sleep(0.5)
    check(run.requests(since_last_list=True)[0] == [], "nothing is downloaded when signed out")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sync", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--port", type=int, default=8765)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    run = Run(args)
    try:
        scenario(run)
    except Failure as failure:
        try:
            run.shot("failure")
            for w in run.xdotool("search", "--name", "."):
                info = subprocess.run(["xwininfo", "-id", w], env=run.env, capture_output=True, text=True).stdout
                state = re.findall(r"(Map State: \S+|Absolute upper-left [XY]: +\S+|Width: \S+|Height: \S+)", info)
                print("window", w, " ".join(run.xdotool("getwindowname", w)), state, file=sys.stderr)
            with open(os.path.join(run.tmp, "app.log"), "rb") as f:
                print("program's output:", f.read().decode(errors="replace")[-2000:], file=sys.stderr)
        except Exception:
            pass
        print("FAILED:", failure, file=sys.stderr)
        if os.path.exists(run.service_log):
            with open(run.service_log, "rb") as f:
                sys.stderr.write(f.read().decode("latin-1")[-3000:])
        return 1
    finally:
        run.close()
    print("sync end to end: all checks passed; screenshots in", args.shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
