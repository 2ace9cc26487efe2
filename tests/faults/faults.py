#!/usr/bin/env python3
"""TorvoSync or TorvoTool driven through faults, end to end: a real torvo-service on the build's
loopback port injecting one fault per case (a delay, an error status, a connection dropped in the
middle of the body, a reply split into pieces, a huge reply, a signed-out identity), and a work
folder that is read-only, missing or cannot be made. The program runs on Xvfb under openbox with
HOME in a temporary folder and is worked with xdotool. Its message boxes and result labels are
read through a preloaded spy (message_spy.cpp); screenshots of every box are kept in --shots.

Each case checks: the message the user gets, that it comes within the program's time-outs, what
is left in ~/Torvo (no partial, truncated or foreign file), and that the program is still usable
afterwards or has ended cleanly. The table of all cases goes to --table.

  faults.py sync|upload --program PATH --service PATH --spy PATH/libtorvo_message_spy.so
            --port P --shots DIR --table FILE
"""
import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "sync", "tests", "e2e"))
import sync_e2e  # noqa: E402  the desktop, service and album helpers of TorvoSync's own end-to-end test
from sync_e2e import Failure, check, png_bytes, wait_for  # noqa: E402

IDENTITY = sync_e2e.IDENTITY
NOBODY = 65534


class FaultRun(sync_e2e.Run):
    """The end-to-end run, plus: programs run as an ordinary user (so folder permissions hold even
    when the test runs as root), every message box and result label is read through the spy, and
    each case adds a row to the table."""

    def __init__(self, args):
        super().__init__(args)
        self.spy_file = os.path.join(self.tmp, "spy.txt")
        open(self.spy_file, "w").close()
        self.spy_seen = 0
        self.env.update(LD_PRELOAD=args.spy, TORVO_MESSAGE_SPY=self.spy_file, LANG="C.UTF-8")
        self.env.pop("QT_QPA_PLATFORM", None)
        self.as_user = []
        if os.geteuid() == 0:
            # root ignores permission bits: the programs run as nobody, who owns HOME.
            os.chmod(self.tmp, 0o755)
            os.chmod(self.spy_file, 0o666)
            for d in (self.home, self.runtime):
                os.chown(d, NOBODY, NOBODY)
            self.as_user = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
        self.rows = []

    def start(self, argv, **kwargs):
        if argv[:1] == ["openbox"]:
            kwargs["stderr"] = open(os.path.join(self.tmp, "openbox.log"), "ab")
            self.window_manager = super().start(argv, **kwargs)
            return self.window_manager
        return super().start(argv, **kwargs)

    def keep_window_manager(self):
        """Starts openbox again should it have ended: the cases close windows through it."""
        if self.window_manager.poll() is not None:
            print("note: openbox ended with status %d; starting it again" % self.window_manager.returncode, flush=True)
            self.start(["openbox"], stdout=subprocess.DEVNULL)
            wait_for(lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                            capture_output=True, text=True).stdout.count("window id"), 30, "openbox")
            time.sleep(0.5)

    def close(self):
        for d in (self.home, self.album):
            if os.path.isdir(d):
                os.chmod(d, 0o755)
        super().close()

    # --- the program ---------------------------------------------------------------------------

    def launch(self, argv):
        self.spy_seen = len(self.spy_lines())
        self.program_log = os.path.join(self.tmp, "program-%d.log" % len(self.processes))
        with open(self.program_log, "wb") as log:
            return self.start(self.as_user + argv, stdout=log, stderr=subprocess.STDOUT)

    def spy_lines(self):
        with open(self.spy_file, encoding="utf-8") as f:
            return [line.rstrip("\n").split("\t", 2) for line in f]

    def new_spy(self, kind, name=None):
        """Spy lines of this kind (and name) since the last look, without taking them."""
        return [(n, unescape(t)) for k, n, t in self.spy_lines()[self.spy_seen:]
                if k == kind and (name is None or n == name)]

    def take_spy(self):
        self.spy_seen = len(self.spy_lines())

    def expect_box(self, title, seconds, what):
        """Waits for a message box titled `title`, screenshots it, presses OK; returns its text."""
        started = time.monotonic()
        text = wait_for(lambda: (self.new_spy("box", title) or [None])[-1], seconds, "a message box: " + what)[1]
        box = self.window(title, 10)
        time.sleep(0.3)
        self.shot(re.sub(r"\W+", "-", what).strip("-"))
        self.take_spy()
        # Real key presses (XTEST) into the activated box, as a keyboard gives them. On a loaded
        # machine a key can come before the new box has taken the focus: press again, as a person
        # would.
        for attempt in range(4):
            self.xdotool("windowactivate", "--sync", box)
            self.xdotool("key", "Return")
            try:
                wait_for(lambda: self.no_window(title), 3, "the message box to close")
                break
            except Failure:
                if attempt == 3:
                    raise
                print("note: the box was still open after Return; pressing again", flush=True)
        return text, time.monotonic() - started

    def no_box_since(self, title):
        return not self.new_spy("box", title)

    def press(self, window, x, y, name, verify=True):
        """Clicks the button `name` at (x, y) of the window until the program has taken the press
        (the button is disabled): a click on a window that has only just appeared can be lost.
        Without verify, one click."""
        if not verify:
            self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")
            return
        for attempt in range(5):
            self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")
            try:
                return wait_for(lambda: ("enabled", name, "0") in map(tuple, self.spy_lines()[self.spy_seen:]), 2,
                                "the press of " + name)
            except Failure:
                if attempt == 4:
                    raise
                print("note: the press of %s was not taken; clicking again" % name, flush=True)

    def close_window(self, window, process):
        """Closes the window as a person does (Alt+F4 to the window manager) and waits for the
        program to end; returns its exit status."""
        for attempt in range(4):
            self.xdotool("windowactivate", "--sync", window)
            self.xdotool("key", "alt+F4")
            try:
                return process.wait(4)
            except subprocess.TimeoutExpired:
                if attempt == 3:
                    raise Failure("the program did not end when its window was closed")
                print("note: the window was still open after Alt+F4; closing again", flush=True)

    # --- the work folder ---------------------------------------------------------------------

    def reset_album(self, state="empty", files=None):
        """~/Torvo as the case wants it: "empty", "missing", "read-only" (holding files), or
        "uncreatable" (missing, in a HOME nobody may write)."""
        os.chmod(self.home, 0o755)
        shutil.rmtree(self.album, ignore_errors=True)
        if state != "missing" and state != "uncreatable":
            os.makedirs(self.album)
            for name, data in (files or {}).items():
                with open(os.path.join(self.album, name), "wb") as f:
                    f.write(data)
            self.own(self.album)
        if state == "read-only":
            os.chmod(self.album, 0o555)
        if state == "uncreatable":
            os.chmod(self.home, 0o555)

    def own(self, path):
        if self.as_user:
            for root, dirs, files in os.walk(path):
                for name in [root] + [os.path.join(root, n) for n in files]:
                    os.chown(name, NOBODY, NOBODY)

    def album_listing(self):
        if not os.path.isdir(self.album):
            return None
        return {name: os.path.getsize(os.path.join(self.album, name)) for name in sorted(os.listdir(self.album))}

    def row(self, case, sees, disk, seconds=None):
        after = "" if seconds is None else " (after %.1f s)" % seconds
        self.rows.append((case, sees + after, disk))
        print("row: %s | %s | %s" % self.rows[-1], flush=True)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def one_line(text, limit=150):
    text = text.replace("\n", " / ")
    return text if len(text) <= limit else text[:limit - 1] + "…"


# --- TorvoSync ------------------------------------------------------------------------------------

class SyncCases:
    def __init__(self, run):
        self.run = run
        self.images = {}  # name -> bytes on the service

    def setup(self):
        run = self.run
        run.service_cli("user", "add", IDENTITY, "--toolbar-id", IDENTITY)
        for _ in range(6):
            name, data = run.add_image()
            self.images[name] = data
        run.start_service()
        run.start_display()

    def start(self):
        run = self.run
        self.app = run.launch([run.args.program] + IDENTITY.split(" "))
        self.window = run.window("Torvo Sync")
        time.sleep(0.3)

    def result_label(self, seconds, what):
        return wait_for(lambda: next((t for _, t in reversed(self.run.new_spy("label", "LabelResult")) if t), None),
                        seconds, what)

    def sync(self, seconds=60):
        """Presses Sync and waits for the end of the sync: its result text."""
        self.run.take_spy()
        self.run.press(self.window, 45, 22, "Cmd_Sync")
        return self.result_label(seconds, "the sync to end")

    def check_album(self, case, allowed_missing=(), extra=None):
        """Every file in ~/Torvo is a listed image with the service's bytes; returns a description."""
        listing = self.run.album_listing()
        if listing is None:
            return "~/Torvo not there"
        for name in listing:
            stem = name[:-4] if name.endswith(".png") else None
            if extra and name in extra:
                check(self.run.read(name) == extra[name], "%s: %s holds what it should" % (case, name))
                continue
            check(stem in self.images, "%s: %s is a listed image, not a partial or foreign file" % (case, name))
            check(self.run.read(name) == self.images[stem], "%s: %s holds the service's bytes" % (case, name))
        if not listing:
            return "~/Torvo empty"
        return "%d of %d images (%s bytes), each as the service sent it; nothing else" % (
            len(listing), len(self.images), format(sum(listing.values()), ","))

    def all_present(self):
        return sorted(self.run.files()) == sorted(n + ".png" for n in self.images)

    def usable_again(self, case, extra=None):
        """With the fault gone, the same window syncs everything."""
        run = self.run
        run.fault(("clear", "all"))
        check(self.app.poll() is None, "%s: the program is still running" % case)
        text = self.sync()
        check(self.all_present(), "%s: a second press with the fault gone fetches the rest (%s)" % (case, text))
        self.check_album(case, extra=extra)

    def end(self):
        check(self.run.close_window(self.window, self.app) == 0, "the program ends cleanly when its window is closed")

    def case(self, label, faults, *, box=None, box_within=None, result=None, folder="empty", usable=True,
             extra=None, files=None):
        """One sync under `faults`. box: text the message box must hold (None: no box); result:
        text the result label must hold."""
        run = self.run
        if run.args.only not in label:
            return
        print("\n== sync: %s" % label, flush=True)
        run.keep_window_manager()
        run.fault(("clear", "all"))
        run.reset_album(folder, files)
        self.start()
        if faults:
            run.fault(*[("add", f) for f in faults])
        started = time.monotonic()
        run.take_spy()
        run.press(self.window, 45, 22, "Cmd_Sync")
        sees = []
        seconds = None
        if box is not None:
            text, _ = run.expect_box("TorvoSync", (box_within or 20) + 10, "sync " + label)
            seconds = time.monotonic() - started
            check(box in text, "%s: the message says %r (it says %r)" % (label, box, text))
            if box_within:
                check(seconds < box_within, "%s: the message comes within %d s (%.1f s)" % (label, box_within, seconds))
            sees.append("box \"%s\"" % one_line(text))
        if result is not None:
            text = self.result_label(40, "the result of the sync")
            check(result in text, "%s: the window says %r (it says %r)" % (label, result, text))
            if box is None:
                check(run.no_box_since("TorvoSync"), "%s: no message box" % label)
                seconds = time.monotonic() - started
            sees.insert(0, "window: \"%s\"" % one_line(text))
        if self.app.poll() is not None:
            ended = "ended (status %d)" % self.app.returncode
            check(not usable, "%s: the program is still running" % label)
        else:
            ended = None
        disk = self.check_album(label, extra=extra)
        if usable:
            if folder in ("read-only", "uncreatable"):
                run.reset_album("empty", files)
            self.usable_again(label, extra)
            sees.append("then usable")
            self.end()
        else:
            sees.append(ended or "still running")
            if self.app.poll() is None:
                self.end()
        run.row("TorvoSync, " + label, "; ".join(sees), disk, seconds)

    def run_all(self):
        images = sorted(self.images)
        third = images[2]
        n = len(images)
        all_done = "%d downloaded, 0 already present, 0 failed." % n
        self.case("no fault", [], result=all_done)
        self.case("list: delay 3 s", ["list:delay=3000"], result=all_done)
        self.case("list: delay 40 s (server stops answering)", ["list:delay=40000"],
                  box="Could not get the image list from the service", box_within=35)
        self.case("list: status 500", ["list:status=500"], box="The service could not list the images (HTTP 500)")
        self.case("list: dropped mid-body", ["list:drop"], box="Could not get the image list from the service")
        self.case("list: split into 6 pieces", ["list:split=6,pause=300"], result=all_done)
        self.case("list: huge (8 MiB, one more name)", ["list:huge=8388608"],
                  result="%d downloaded, 0 already present, 1 failed" % n)
        self.case("list: signed out", ["list:signedout"], box="Please you must Login", usable=False)
        self.case("download: delay 3 s each", ["download:delay=3000"], result=all_done)
        self.case("download: delay 40 s on image 3", ["download:delay=40000,match=" + third],
                  box="The download of image 3 of %d" % n, box_within=35)
        self.case("download: status 404 on image 3", ["download:status=404,match=" + third],
                  result="%d downloaded, 0 already present, 1 failed" % (n - 1))
        self.case("download: status 500 on every image", ["download:status=500"],
                  result="0 downloaded, 0 already present, %d failed" % n)
        self.case("download: dropped mid-body on image 3", ["download:drop,match=" + third],
                  box="The download of image 3 of %d" % n)
        self.case("download: split into 5 pieces", ["download:split=5,pause=100"], result=all_done)
        self.case("download: huge (32 MiB) image 3", ["download:huge=33554432,match=" + third],
                  result=all_done, extra={third + ".png": self.images[third] + bytes(33554432 - len(self.images[third]))})
        self.case("download: huge (80 MiB, over the 64 MiB a reply may have) image 3",
                  ["download:huge=83886080,match=" + third], box="The download of image 3 of %d" % n)
        self.case("download: signed out (403)", ["download:signedout"],
                  result="0 downloaded, 0 already present, %d failed" % n)
        self.case("work folder missing", [], folder="missing", result=all_done)
        first = images[0] + ".png"
        self.case("work folder read-only, one image in it", [], folder="read-only", box="Could not save",
                  files={first: self.images[images[0]]})
        self.case("work folder cannot be made", [], folder="uncreatable", box="Could not create the folder")


# --- TorvoTool --------------------------------------------------------------------------------------

class UploadCases:
    def __init__(self, run):
        self.run = run

    def setup(self):
        run = self.run
        run.service_cli("user", "add", IDENTITY, "--toolbar-id", IDENTITY)
        run.service_cli("folder", "add", IDENTITY, "여행", "--number", "3")
        run.start_service()
        run.start_display()
        # A page window in front, for the capture: its client area is 500 x 300, so the thumbnail
        # is 200 x 120.
        run.start(["xmessage", "-geometry", "500x300+250+150", "-buttons", "", "A web page in the browser."],
                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.page = run.window("xmessage")

    def command_line(self):
        return "%s;^;http://example.com/page;^;Fault page;^;a+note%%B0%%A1" % IDENTITY

    def check_album(self, label, expect):
        listing = self.run.album_listing()
        if listing is None:
            check(expect == "missing", "%s: ~/Torvo is there" % label)
            return "~/Torvo not there"
        names = sorted(listing)
        if expect == "thumbnail":
            check(names == ["img.png"], "%s: ~/Torvo holds img.png and nothing else (%s)" % (label, names))
            png = self.run.read("img.png")
            check(png.startswith(b"\x89PNG\r\n\x1a\n") and png.endswith(b"IEND\xaeB`\x82"),
                  "%s: img.png is a whole PNG" % label)
            size = struct.unpack(">II", png[16:24])
            check(size == (200, 120), "%s: img.png is the 200 x 120 thumbnail of the page (%d x %d)" % ((label,) + size))
            return "img.png only (200 x 120, %d bytes), no BMP work file" % listing["img.png"]
        check(names == sorted(expect), "%s: ~/Torvo holds %s (%s)" % (label, sorted(expect), names))
        return ", ".join(names) if names else "~/Torvo empty"

    def case(self, label, faults, *, box=None, box_within=None, folder="empty", leaves=(), window=False):
        run = self.run
        if run.args.only not in label:
            return
        print("\n== upload: %s" % label, flush=True)
        run.keep_window_manager()
        run.fault(("clear", "all"))
        run.reset_album(folder)
        if faults:
            run.fault(*[("add", f) for f in faults])
        run.xdotool("windowactivate", "--sync", self.page)
        started = time.monotonic()
        app = run.launch([run.args.program, self.command_line()])
        sees = []
        seconds = None
        if box is not None:
            text, _ = run.expect_box("TorvoTool", (box_within or 20) + 10, "upload " + label)
            seconds = time.monotonic() - started
            check(box in text, "%s: the message says %r (it says %r)" % (label, box, text))
            if box_within:
                check(seconds < box_within, "%s: the message comes within %d s (%.1f s)" % (label, box_within, seconds))
            sees.append("box \"%s\"" % one_line(text))
            check(app.wait(10) == 1, "%s: the program ends after the message" % label)
            sees.append("ended")
            disk = self.check_album(label, leaves)
        else:
            w = run.window("Torvo", 40)
            seconds = time.monotonic() - started
            time.sleep(0.5)
            run.shot(re.sub(r"\W+", "-", "upload " + label))
            check(run.no_box_since("TorvoTool"), "%s: no message box" % label)
            sees.append("window shown, folders listed")
            disk = self.check_album(label, "thumbnail")
            check(run.close_window(w, app) == 0, "%s: closing the window ends the program" % label)
            sees.append("closed by the user")
        run.row("TorvoTool, " + label, "; ".join(sees), disk, seconds)

    # --- the save button ---------------------------------------------------------------------

    def stored_names(self):
        return set(re.findall(r"\d{14}", self.run.service_cli("image", "list", IDENTITY)))

    def stored_bytes(self, name):
        identity = urllib.parse.quote(IDENTITY.encode("cp949"), safe="")
        url = "http://127.0.0.1:%d/img/%s/%s.png" % (self.run.args.port, identity, name)
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(url, timeout=10) as reply:
            return reply.read()

    def save(self, window, verify=True):
        self.run.take_spy()
        self.run.press(window, 264, 164, "저장", verify)  # the save button, 저장

    def expect_stored(self, label, app, thumbnail, before, seconds=45):
        """The upload was taken: the program ends by itself with status 0 and ~/Torvo holds the
        thumbnail under the service's new name, byte for byte what the service stored."""
        try:
            status = app.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure("%s: the program did not end after the upload" % label)
        check(status == 0, "%s: the program ends by itself after the upload (status %d)" % (label, status))
        check(self.run.no_box_since("TorvoTool"), "%s: no message box" % label)
        new = sorted(self.stored_names() - before)
        check(len(new) == 1, "%s: the service stored one image (%s)" % (label, new))
        check(self.run.files() == [new[0] + ".png"], "%s: ~/Torvo holds %s.png only (%s)" % (label, new[0], self.run.files()))
        data = self.run.read(new[0] + ".png")
        check(data == thumbnail, "%s: it is the thumbnail, byte for byte" % label)
        check(data == self.stored_bytes(new[0]), "%s: it is what the service stored" % label)
        return "%s.png only (the thumbnail, as the service stored it)" % new[0]

    def save_case(self, label, faults, *, outcome, box=None, box_within=None, before_save=None):
        """One start, then the save button under `faults`. outcome: "stored" (ends by itself,
        the thumbnail kept under the new name), "ends" (a message, then the program ends with
        img.png left as it was), "kept" (a message, the window stays; with the fault gone a
        second press stores the image), "kept-closed" (a message, the window stays; then closed)."""
        run = self.run
        if run.args.only not in label:
            return
        print("\n== upload: %s" % label, flush=True)
        run.keep_window_manager()
        run.fault(("clear", "all"))
        run.reset_album("empty")
        run.xdotool("windowactivate", "--sync", self.page)
        app = run.launch([run.args.program, self.command_line()])
        window = run.window("Torvo", 40)
        time.sleep(0.5)
        self.check_album(label, "thumbnail")
        thumbnail = run.read("img.png")
        before = self.stored_names()
        if before_save:
            before_save()
        if faults:
            run.fault(*[("add", f) for f in faults])
        started = time.monotonic()
        self.save(window, verify=outcome != "kept-closed")
        sees = []
        seconds = None
        if box is not None:
            text, _ = run.expect_box("TorvoTool", (box_within or 20) + 15, "save " + label)
            seconds = time.monotonic() - started
            check(box in text, "%s: the message says %r (it says %r)" % (label, box, text))
            if box_within:
                check(seconds < box_within, "%s: the message comes within %d s (%.1f s)" % (label, box_within, seconds))
            sees.append("box \"%s\"" % one_line(text))
        if outcome == "stored":
            disk = self.expect_stored(label, app, thumbnail, before)
            seconds = time.monotonic() - started
            sees.append("the window closes by itself, no message")
        elif outcome == "ends":
            try:
                status = app.wait(10)
            except subprocess.TimeoutExpired:
                raise Failure("%s: the program did not end after the message" % label)
            check(status == 1, "%s: the program ends after the message (status %d)" % (label, status))
            sees.append("ended")
            if os.path.isdir(run.album):
                os.chmod(run.album, 0o755)
            check(run.files() == ["img.png"] and run.read("img.png") == thumbnail,
                  "%s: ~/Torvo holds img.png as it was, nothing else (%s)" % (label, run.files()))
            disk = "img.png as it was, nothing else"
        else:
            time.sleep(0.5)
            check(app.poll() is None, "%s: the window stays" % label)
            if outcome == "kept":
                check(run.files() == ["img.png"] and run.read("img.png") == thumbnail,
                      "%s: ~/Torvo holds img.png as it was (%s)" % (label, run.files()))
                disk = "img.png as it was, nothing else"
                run.fault(("clear", "all"))
                first = self.stored_names()
                self.save(window)
                disk = self.expect_stored(label, app, thumbnail, first)
                sees.append("the window stays; a second press with the fault gone stores it and ends")
            else:
                disk = "; ".join(run.files()) or ("~/Torvo empty" if os.path.isdir(run.album) else "~/Torvo not there")
                check(run.close_window(window, app) == 0, "%s: closing the window ends the program" % label)
                sees.append("the window stays; closed by the user")
        stored = len(self.stored_names() - before)
        disk += "; the service holds %s" % ("no new image" if stored == 0 else "%d new image%s" % (stored, "s" if stored > 1 else ""))
        run.row("TorvoTool save, " + label, "; ".join(sees), disk, seconds)

    def run_all(self):
        unreadable = "폴더 목록"
        self.case("no fault", [])
        self.case("folders: delay 3 s", ["folders:delay=3000"])
        self.case("folders: delay 40 s (server stops answering)", ["folders:delay=40000"], box=unreadable, box_within=20)
        self.case("folders: status 500", ["folders:status=500"], box="HTTP 500")
        self.case("folders: dropped mid-body", ["folders:drop"], box=unreadable)
        self.case("folders: split into 6 pieces", ["folders:split=6,pause=300"])
        self.case("folders: huge (8 MiB, one more folder)", ["folders:huge=8388608"])
        self.case("folders: huge (80 MiB, over the 64 MiB a reply may have)", ["folders:huge=83886080"],
                  box=unreadable)
        self.case("folders: signed out", ["folders:signedout"], box="로그아웃 상태입니다.")
        self.case("work folder missing", [], folder="missing")
        self.case("work folder read-only", [], folder="read-only", box="img1.bmp")
        self.case("work folder cannot be made", [], folder="uncreatable", box="Torvo", leaves="missing")

        not_taken = "You must login again.1"
        self.save_case("no fault", [], outcome="stored")
        self.save_case("upload: delay 3 s", ["upload:delay=3000"], outcome="stored")
        self.save_case("upload: delay 40 s (server stops answering)", ["upload:delay=40000"], outcome="kept",
                       box="30초 안에 응답하지 않았습니다", box_within=35)
        self.save_case("upload: status 500", ["upload:status=500"], outcome="ends", box=not_taken)
        self.save_case("upload: dropped mid-body", ["upload:drop"], outcome="ends", box=not_taken)
        self.save_case("upload: split into 5 pieces", ["upload:split=5,pause=300"], outcome="stored")
        self.save_case("upload: huge (8 MiB, a long line before the name)", ["upload:huge=8388608"], outcome="stored")
        self.save_case("upload: signed out", ["upload:signedout"], outcome="ends", box="로그아웃 상태입니다.")
        self.save_case("upload: not a number", ["upload:notanumber"], outcome="ends", box=not_taken)
        self.save_case("work folder removed before the save", [], outcome="kept-closed", box="img.png",
                       before_save=lambda: shutil.rmtree(self.run.album))
        self.save_case("work folder read-only at the save", [], outcome="ends", box="img.png",
                       before_save=lambda: os.chmod(self.run.album, 0o555))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("which", choices=["sync", "upload"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--spy", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--table", required=True)
    parser.add_argument("--only", default="", help="run only the cases whose name holds this text")
    args = parser.parse_args()
    run = FaultRun(args)
    cases = SyncCases(run) if args.which == "sync" else UploadCases(run)
    try:
        cases.setup()
        cases.run_all()
    except Failure as failure:
        try:
            run.shot("failure")
        except Exception:
            pass
        print("FAILED:", failure, file=sys.stderr)
        with open(run.service_log, "rb") as f:
            sys.stderr.write(f.read().decode("latin-1")[-3000:])
        sys.stderr.write("--- the spy's last lines:\n%s\n" % "\n".join("\t".join(l) for l in run.spy_lines()[-8:]))
        for process in run.processes:
            sys.stderr.write("--- %s: %s\n" % (" ".join(process.args), process.poll()))
        with open(os.path.join(run.tmp, "openbox.log"), "rb") as f:
            sys.stderr.write("--- openbox:\n" + f.read().decode("utf-8", "replace")[-2000:])
        if getattr(run, "program_log", None):
            with open(run.program_log, "rb") as f:
                sys.stderr.write("--- the program's output:\n" + f.read().decode("utf-8", "replace")[-3000:])
        return 1
    finally:
        with open(args.table, "w", encoding="utf-8") as f:
            f.write("| case | what the user sees | what is left in ~/Torvo |\n|---|---|---|\n")
            for row in run.rows:
                f.write("| %s |\n" % " | ".join(c.replace("|", "\\|") for c in row))
        run.close()
    print("faults (%s): all checks passed; table in %s, screenshots in %s" % (args.which, args.table, args.shots))
    return 0


if __name__ == "__main__":
    sys.exit(main())
