#!/usr/bin/env python3
"""TorvoSync.exe end to end under Wine: the real program on the run's display under openbox,
driven with xdotool, against the Linux torvo-service on the Windows build's port. Sync downloads
exactly the missing images into C:\\Torvo\\ (byte for byte the service's, present ones untouched);
then the faults (500, dropped body, read-only folder, signed out, no service) give the Linux
build's messages, read from the message boxes with message_spy.exe, and leave nothing partial.
Screenshots in --shots.

  sync_wine_e2e.py --sync TorvoSync.exe --spy message_spy.exe --service torvo-service
                   --port 8766 --prefix WINEPREFIX --shots DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "sync", "tests", "e2e"))
import sync_e2e  # noqa: E402  the service and album helpers of the Linux end-to-end test
from sync_e2e import Failure, check, wait_for  # noqa: E402

IDENTITY = sync_e2e.IDENTITY
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")


class WineRun(sync_e2e.Run):
    """The Linux run's service and album helpers; the program under Wine, its album C:\\Torvo\\."""

    def __init__(self, args):
        super().__init__(args)
        self.album = os.path.join(args.prefix, "drive_c", "Torvo")
        shutil.rmtree(self.album, ignore_errors=True)
        self.env.pop("LD_PRELOAD", None)

    def window_manager_runs(self):
        """A live window manager: the root names its check window, and that window exists (one
        that was killed may leave the name behind)."""
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env, capture_output=True,
                             text=True).stdout
        words = out.split()
        if "#" not in words:
            return False
        return subprocess.run(["xprop", "-id", words[-1], "_NET_WM_NAME"], env=self.env,
                              capture_output=True).returncode == 0

    def start_display(self):
        # Wine's desktop is the run's display: the window manager joins it, unless one runs. It
        # stays for the rest of the run (it ends with the display), so the tests after this one
        # find it as they left it.
        if not self.env.get("DISPLAY"):
            raise Failure("no DISPLAY: run under scripts/test-windows.sh or xvfb-run")
        if not self.window_manager_runs():
            subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
            wait_for(self.window_manager_runs, 30, "openbox")  # a loaded machine starts it slowly

    def wine(self, program, *words, **kwargs):
        return [WINE_RUN, self.args.prefix, program, *words]

    def launch(self, *words):
        # As on a Korean Windows: the system's own texts and fonts are Korean ones (the message
        # box draws its Hangul with them).
        process = subprocess.Popen(self.wine(self.args.sync, *words), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=dict(self.env, LC_ALL="ko_KR.UTF-8"))
        self.processes.append(process)
        return process

    def spy(self, *words, seconds=60):
        result = subprocess.run(self.wine(self.args.spy, *words), env=self.env, capture_output=True, timeout=seconds)
        return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", "")

    def controls(self):
        status, out = self.spy("controls", "Torvo Sync", "5")
        return out.split("\n") if status == 0 else []

    def message(self, name, seconds=60):
        """The box of TorvoSync: screenshot while it is up, its text, OK pressed."""
        box = self.window("TorvoSync", seconds)
        time.sleep(0.5)
        self.shot(name)
        status, out = self.spy("box", "TorvoSync", "10")
        check(status == 0, "%s: a message box, answered with OK" % name)
        wait_for(lambda: self.no_window("TorvoSync"), 5, "the message box to close")
        del box
        return out.rstrip("\n")

    def press(self, window):
        # The button is the window's first control, at its top left.
        self.xdotool("mousemove", "--window", window, "45", "21", "click", "1")

    def result_after_press(self, window, name, seconds=60):
        before = self.controls()
        self.press(window)
        lines = wait_for(lambda: (lambda c: c if len(c) > 3 and c[0] == "Sync" and c[3] and c != before else None)(
            self.controls()), seconds, "the result of " + name)
        return lines

    def listing(self):
        names = self.files()
        return {n: self.read(n) for n in names}


def scenario(run, images):
    a = run.args
    names = sorted(images)
    present = names[0] + ".png"
    os.makedirs(run.album, exist_ok=True)
    with open(os.path.join(run.album, present.upper()), "wb") as f:
        f.write(b"mine")  # present under another case: untouched

    app = run.launch(*IDENTITY.split(" "))
    window = run.window("Torvo Sync", 60)
    time.sleep(0.5)
    run.shot("window")
    c = run.controls()
    check(c[:3] == ["Sync", "0", ""], "the window's controls: Sync, 0, the progress bar (%s)" % c)

    # A second copy says so and leaves the first alone.
    second = run.launch("other")
    text = run.message("second-copy")
    check(text == "이 프로그램은 두번 실행될 수 없슴니다.", "a second copy says it cannot run twice (%r)" % text)
    check(second.wait(20) == 0, "the second copy ends")

    # Sync: exactly the missing images, byte for byte.
    lines = run.result_after_press(window, "the first sync")
    time.sleep(0.3)
    run.shot("after-sync")
    n = len(names)
    check(lines[1] == "%d / %d" % (n, n), "the label says %d / %d (%s)" % (n, n, lines[1]))
    check(lines[3] == "%d downloaded, 1 already present, 0 failed." % (n - 1), "the result line (%s)" % lines[3])
    expected = {name + ".png": data for name, data in images.items() if name + ".png" != present}
    expected[present.upper()] = b"mine"
    got = run.listing()
    check(got == expected, "C:\\Torvo\\ holds exactly the missing images as the service has them, the present "
                           "one untouched (%s)" % sorted(got))
    downloads, lists = run.requests()
    check(sorted(downloads) == sorted(names[1:]) and lists == 1, "only the missing images were asked for")

    def fault_case(label, faults, box, prepare=None, expect_files=None):
        run.fault(("clear", "all"))
        if faults:
            run.fault(*[("add", f) for f in faults])
        if prepare:
            prepare()
        before = run.listing()
        started = time.monotonic()
        run.press(window)
        text = run.message(label.replace(" ", "-"))
        check(text.startswith(box), "%s: the message is %r (%r)" % (label, box, text))
        check(time.monotonic() - started < 40, "%s: within the time-outs" % label)
        after = run.listing()
        check(after == (expect_files if expect_files is not None else before),
              "%s: nothing partial or new in C:\\Torvo\\ (%s)" % (label, sorted(after)))
        return text

    missing = names[1] + ".png"

    def drop_one():
        os.remove(os.path.join(run.album, missing))

    fault_case("status 500", ["list:status=500"], "The service could not list the images (HTTP 500).")
    third = names[1]
    fault_case("dropped body", ["download:drop,match=" + third],
               "The download of image 2 of %d (%s) failed: " % (n, missing), prepare=drop_one)
    run.fault(("clear", "all"))

    # Read-only: root ignores permission bits, so the folder is made immutable for the case.
    if subprocess.run(["chattr", "+i", run.album], capture_output=True).returncode == 0:
        try:
            fault_case("read-only folder", [], "Could not save C:\\Torvo\\%s: Permission denied. The sync stopped; "
                       "the images downloaded so far are kept." % missing)
        finally:
            subprocess.run(["chattr", "-i", run.album])
    else:
        raise Failure("read-only folder: chattr +i is refused here, the case cannot be made")

    # Signed out: the message, then the program ends.
    run.service_cli("user", "signout", IDENTITY)
    run.press(window)
    text = run.message("signed-out")
    check(text == "Please you must Login", "signed out: %r" % text)
    check(app.wait(20) == 0, "signed out: the program ends")
    check(missing not in run.files(), "signed out: nothing fetched")

    # No service: the list cannot be had.
    run.service.terminate()
    run.service.wait(10)
    app = run.launch(*IDENTITY.split(" "))
    window = run.window("Torvo Sync", 60)
    run.press(window)
    text = run.message("no-service")
    check(text == "Could not get the image list from the service: Couldn't connect to server.",
          "no service: %r" % text)
    run.close_window(window)
    check(app.wait(20) == 0, "closing the window ends the program")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sync", required=True)
    parser.add_argument("--spy", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    if not os.access(args.service, os.X_OK):
        print("FAIL: no Linux torvo-service at %s (build it in the local preset)" % args.service)
        return 1
    run = WineRun(args)
    try:
        run.service_cli("user", "add", IDENTITY, "--toolbar-id", IDENTITY)
        images = dict(run.add_image() for _ in range(3))
        run.start_service()
        run.start_display()
        scenario(run, images)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAIL:", e, flush=True)
        try:
            run.shot("failure")
        except Exception:  # noqa: BLE001  the failure is what is reported
            pass
        return 1
    finally:
        subprocess.run(["chattr", "-i", run.album], capture_output=True)
        run.close()
    print("sync_wine_e2e: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
