#!/usr/bin/env python3
"""The Debian package, installed on this machine as a user would install it: built with CPack from
the build folder, checked with lintian, installed with apt-get, its programs, desktop entries,
metainfo, manual pages and user unit tried, the service started as its unit says and TorvoSync run
on Xvfb against it (HOME in a temporary folder), then removed again, leaving none of its files.

It changes the system (installs and removes the package "torvo"), so it runs only when
TORVO_INSTALL_TEST=1; otherwise it exits 77, which CTest reports as skipped.

  install_test.py --build BUILD_DIR --version 0.1.0 --port 8765 --shots DIR
"""
import argparse
import base64
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

import browsers

PROGRAMS = ["TorvoTool", "TorvoSync", "torvo-image", "torvo-service", "torvo-toolbar-host", "torvo-connect"]
IDENTITY = "install 사용자"
PASSWORD = "installed to stay"
SKIPPED = 77
# The host's registrations: Firefox's is a file of the package, Chromium's (under /etc) is made by
# its maintainer scripts.
FIREFOX_HOST = "/usr/lib/mozilla/native-messaging-hosts/torvo.toolbar.json"
CHROMIUM_HOST = "/etc/chromium/native-messaging-hosts/torvo.toolbar.json"
# Where the package puts the extension for the browsers: Debian's Chromium launcher loads every
# folder under /usr/share/chromium/extensions; Firefox ESR reads the distribution's policies.
CHROMIUM_EXTENSION = "/usr/share/chromium/extensions/torvo"
FIREFOX_POLICIES = "/usr/share/firefox-esr/distribution/policies.json"
PACKED = "/usr/share/torvo/toolbar"
GECKO_ID = "toolbar@torvo.example"
APT = ["apt-get", "-o", "DPkg::Lock::Timeout=120"]  # waits while another apt-get runs


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


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
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


def run(argv, **kwargs):
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("text", True)
    return subprocess.run(argv, **kwargs)


def must(argv, what, **kwargs):
    result = run(argv, **kwargs)
    if result.returncode != 0:
        raise Failure("%s failed (%d): %s%s" % (what, result.returncode, result.stdout[-3000:], result.stderr[-3000:]))
    return result.stdout


def png_bytes(seed):
    width, height = 20, 12
    rows = b"".join(b"\x00" + bytes(((seed * 53 + x * 7 + y * 13) & 0xFF) for x in range(width * 3))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class Test:
    def __init__(self, args):
        self.args = args
        self.sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
        self.tmp = tempfile.mkdtemp(prefix="torvo-install-")
        os.chmod(self.tmp, 0o755)  # apt reads the package as its own user
        self.home = os.path.join(self.tmp, "home")
        self.runtime = os.path.join(self.tmp, "runtime")
        os.makedirs(self.home)
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.runtime, LANG="C.UTF-8")
        for key in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "DISPLAY"):
            self.env.pop(key, None)
        self.processes = []
        self.installed = False
        self.package_files = []
        self.uploaded = []  # names of the pages kept through the browsers

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
        if self.installed:
            run(self.sudo + APT + ["purge", "-y", "torvo"], env=self.apt_env())
        shutil.rmtree(self.tmp, ignore_errors=True)

    def apt_env(self):
        return dict(os.environ, DEBIAN_FRONTEND="noninteractive")

    # --- the package ---------------------------------------------------------------------------

    def build_package(self):
        out = os.path.join(self.tmp, "package")
        must(["cpack", "-G", "DEB", "--config", os.path.join(self.args.build, "CPackConfig.cmake"), "-B", out],
             "cpack")
        debs = [f for f in os.listdir(out) if re.fullmatch(r"torvo_.*\.deb", f)]
        check(len(debs) == 1, "cpack made one package: %s" % debs)
        self.deb = os.path.join(out, debs[0])
        check(debs[0].startswith("torvo_%s_" % self.args.version), "the package carries the version: " + debs[0])

        control = must(["dpkg-deb", "-f", self.deb, "Depends"], "dpkg-deb -f")
        depends = {d.strip().split(" ")[0] for d in control.replace("|", ",").split(",")}
        print("Depends:", control.strip())
        for needed in ("libqt6widgets6", "libqt6gui6", "libqt6core6", "libfreeimage3", "libcurl4", "libsqlite3-0",
                       "fonts-nanum"):
            check(needed in depends, "the package depends on " + needed)

        listing = must(["dpkg-deb", "-c", self.deb], "dpkg-deb -c")
        paths = [line.split(None, 5)[5].split(" -> ")[0] for line in listing.splitlines()]
        check(all(p.startswith("./usr/") or p in ("./", "./usr/") for p in paths),
              "every file of the package is under /usr: %s" % [p for p in paths if not p.startswith("./usr")])
        self.package_files = [p[1:] for p in paths if not p.endswith("/")]
        expected = ["/usr/bin/" + p for p in PROGRAMS] + [
            "/usr/share/applications/org.torvo.TorvoSync.desktop",
            "/usr/share/applications/org.torvo.TorvoTool.desktop",
            "/usr/share/metainfo/org.torvo.TorvoSync.metainfo.xml",
            "/usr/share/icons/hicolor/scalable/apps/torvo.svg",
            "/usr/share/icons/hicolor/scalable/apps/torvo-sync.svg",
            "/usr/share/doc/torvo/copyright", "/usr/share/doc/torvo/changelog.gz",
            "/usr/lib/systemd/user/torvo-service.service",
            CHROMIUM_EXTENSION + "/manifest.json", CHROMIUM_EXTENSION + "/background.js",
            PACKED + "/torvo.crx", PACKED + "/torvo.xpi", FIREFOX_POLICIES,
        ] + ["/usr/share/man/man1/%s.1.gz" % p for p in PROGRAMS] + [
            "/usr/share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, i)
            for s in (16, 24, 32, 48, 64, 128, 256) for i in ("torvo", "torvo-sync")]
        missing = sorted(set(expected) - set(self.package_files))
        check(not missing, "the package holds the programs, entries, icons, pages and unit (missing: %s)" % missing)

        lintian = run(["lintian", "--allow-root", "--fail-on", "error", "--suppress-tags",
                       "bad-distribution-in-changes-file", self.deb])
        print(lintian.stdout + lintian.stderr, end="")
        check(lintian.returncode == 0 and not re.search(r"^E: ", lintian.stdout, re.M), "lintian finds no error")

    def install(self):
        run(self.sudo + APT + ["purge", "-y", "torvo"], env=self.apt_env())
        self.installed = True
        must(self.sudo + APT + ["install", "-y", "--no-install-recommends", "./" + os.path.basename(self.deb)],
             "apt-get install", cwd=os.path.dirname(self.deb), env=self.apt_env())
        status = run(["dpkg-query", "-W", "-f=${Status} ${Version}", "torvo"]).stdout
        check(status == "install ok installed " + self.args.version, "dpkg has torvo installed: " + status)

    def remove(self):
        must(self.sudo + APT + ["remove", "-y", "torvo"], "apt-get remove", env=self.apt_env())
        self.installed = False
        status = run(["dpkg-query", "-W", "-f=${Status}", "torvo"]).stdout
        check(status in ("", "deinstall ok not-installed", "deinstall ok config-files"),
              "torvo is no longer installed (%r)" % status)
        left = [f for f in self.package_files + [CHROMIUM_HOST] if os.path.lexists(f)]
        check(not left, "no file of the package is left behind: %s" % left)
        left = [f for f in (CHROMIUM_EXTENSION, FIREFOX_POLICIES, FIREFOX_HOST, CHROMIUM_HOST, PACKED)
                if os.path.lexists(f)]
        check(not left, "nothing of Torvo is left in the browsers' folders: %s" % left)
        # dpkg remembers a package with maintainer scripts until it is purged.
        must(self.sudo + APT + ["purge", "-y", "torvo"], "apt-get purge", env=self.apt_env())
        status = run(["dpkg-query", "-W", "-f=${Status}", "torvo"]).stdout
        check(status in ("", "unknown ok not-installed", "purge ok not-installed"), "dpkg forgot torvo (%r)" % status)

    # --- what is installed ---------------------------------------------------------------------

    def check_programs(self):
        for program in PROGRAMS:
            path = "/usr/bin/" + program
            version = run([path, "--version"], env=self.env, timeout=20)
            first = (version.stdout.splitlines() or [""])[0]
            check(version.returncode == 0 and first == "%s (Torvo) %s" % (program, self.args.version),
                  "%s --version prints %r" % (program, first))
            help_ = run([path, "--help"], env=self.env, timeout=20)
            check(help_.returncode == 0 and re.search(r"^\s*usage:", help_.stdout, re.I | re.M)
                  and "--version" in help_.stdout and help_.stderr == "",
                  "%s --help prints its usage and options" % program)
            stripped = must(["file", "-b", path], "file")
            check("not stripped" not in stripped, "%s is stripped" % program)

    def check_files(self):
        for entry in ("org.torvo.TorvoSync.desktop", "org.torvo.TorvoTool.desktop"):
            path = "/usr/share/applications/" + entry
            result = run(["desktop-file-validate", path])
            check(result.returncode == 0 and result.stdout.strip() == "",
                  "desktop-file-validate passes %s %s" % (entry, result.stdout))
        result = run(["appstreamcli", "validate", "--no-net", "--pedantic",
                      "/usr/share/metainfo/org.torvo.TorvoSync.metainfo.xml"])
        print(result.stdout, end="")
        check(result.returncode == 0, "appstreamcli validate passes the metainfo")
        for program in PROGRAMS:
            page = must(["zcat", "/usr/share/man/man1/%s.1.gz" % program], "zcat")
            check(page.startswith(".TH ") and '"torvo %s"' % self.args.version in page.splitlines()[0],
                  "the manual page of %s names the version" % program)
        metainfo = open("/usr/share/metainfo/org.torvo.TorvoSync.metainfo.xml").read()
        newest = re.search(r'<release version="([^"]+)"', metainfo)
        check(newest is not None and newest.group(1) == self.args.version,
              "the metainfo's newest release is this version")
        changelog = must(["zcat", "/usr/share/doc/torvo/changelog.gz"], "zcat")
        check(changelog.startswith("torvo (%s) " % self.args.version), "the changelog's first entry is this version")
        if shutil.which("systemd-analyze"):
            unit = "/usr/lib/systemd/user/torvo-service.service"
            result = run(["systemd-analyze", "--user", "verify", unit], env=self.env)
            check(result.returncode == 0 and result.stdout + result.stderr == "",
                  "systemd-analyze verifies the user unit %s" % (result.stdout + result.stderr))
        for hosts in (FIREFOX_HOST, CHROMIUM_HOST):
            check(os.path.exists(hosts) and '"/usr/bin/torvo-toolbar-host"' in open(hosts).read(),
                  "%s names the installed host" % hosts)

    def unit_commands(self):
        """ExecStartPre and ExecStart of the installed user unit, with %h as this test's HOME."""
        unit = open("/usr/lib/systemd/user/torvo-service.service").read()
        commands = {}
        for key in ("ExecStartPre", "ExecStart"):
            m = re.search(r"^%s=(.*)$" % key, unit, re.M)
            check(m is not None, "the unit has " + key)
            commands[key] = m.group(1).replace("%h", self.home).split()
        check(commands["ExecStart"][0] == "/usr/bin/torvo-service", "the unit starts /usr/bin/torvo-service")
        return commands

    def start_display(self):
        if "DISPLAY" in self.env:
            return
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x900x24", "-nolisten", "tcp", "-noreset"],
                   pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        check(display != "", "Xvfb started")
        self.env["DISPLAY"] = ":" + display
        self.start(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)

    # --- the extension in the browsers ------------------------------------------------------------

    def check_extension_files(self):
        manifest = json.load(open(CHROMIUM_EXTENSION + "/manifest.json", encoding="utf-8"))
        self.chromium_id = "".join(chr(ord("a") + int(c, 16))
                                   for c in hashlib.sha256(base64.b64decode(manifest["key"])).hexdigest()[:32])
        origins = json.load(open(CHROMIUM_HOST))["allowed_origins"]
        check(origins == ["chrome-extension://%s/" % self.chromium_id],
              "the Chromium host manifest admits the installed extension %s" % self.chromium_id)
        external = json.load(open("%s/%s.json" % (PACKED, self.chromium_id)))
        check(external == {"external_crx": PACKED + "/torvo.crx", "external_version": manifest["version"]},
              "the external CRX file names the packed CRX and its version")
        policies = json.load(open(FIREFOX_POLICIES))["policies"]
        check(policies["ExtensionSettings"][GECKO_ID] == {"installation_mode": "normal_installed",
                                                           "install_url": "file://%s/torvo.xpi" % PACKED},
              "Firefox ESR's policies install the packaged XPI")
        check(policies["Preferences"]["xpinstall.signatures.required"]["Value"] is False,
              "Firefox ESR's policies take an unsigned XPI")

    # --- helpers for the roads through the browsers ------------------------------------------------

    def texts(self, key, *values):
        """The extension's message in each of its languages, with $1.. filled in."""
        out = []
        for language in ("en", "ko"):
            messages = json.load(open("%s/_locales/%s/messages.json" % (CHROMIUM_EXTENSION, language), encoding="utf-8"))
            text = messages[key]["message"]
            for i, value in enumerate(values, 1):
                text = text.replace("$%d" % i, str(value))
            out.append(text)
        return out

    def xdotool(self, *words):
        return run(["xdotool", *words], env=self.env).stdout.split()

    def connection_file(self):
        path = os.path.join(self.home, ".config", "torvo", "connection")
        return open(path, encoding="utf-8").read() if os.path.exists(path) else None

    def start_helpers(self):
        """A loopback web page (also the "not Torvo" server: it answers a POST with an error page),
        a port where nothing listens, and nginx in front of the service with a certificate of a CA
        that only this test knows."""
        www = os.path.join(self.tmp, "www")
        os.makedirs(www)
        self.page_title = "토르보 설치 시험"
        with open(os.path.join(www, "page.html"), "w", encoding="utf-8") as f:
            f.write('<!DOCTYPE html><html lang="ko"><head><meta charset="utf-8"><title>%s</title></head>'
                    '<body style="margin:0;height:100vh;display:flex;align-items:center;justify-content:center;'
                    'font:32px sans-serif;background:#E3F2FD"><p>설치한 대로 보관하는 페이지</p></body></html>' % self.page_title)
        log = open(os.path.join(self.tmp, "http.log"), "wb")
        self.web_port = free_port()
        self.start([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", www, str(self.web_port)],
                   stdout=log, stderr=subprocess.STDOUT)
        self.page = "http://127.0.0.1:%d/page.html" % self.web_port
        self.closed_port = free_port()

        tls = os.path.join(self.tmp, "tls")
        os.makedirs(tls)
        openssl = lambda *a: must(["openssl", *a], "openssl " + a[0], cwd=tls)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                "-subj", "/CN=Torvo install test CA")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                "-subj", "/CN=127.0.0.1")
        with open(os.path.join(tls, "ext"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", "server.pem", "-days", "2", "-extfile", "ext")
        self.tls_port = free_port()
        with open(os.path.join(tls, "nginx.conf"), "w") as f:
            f.write("""daemon off; pid %(d)s/nginx.pid; error_log %(d)s/error.log;
events {}
http { access_log off; client_body_temp_path %(d)s; proxy_temp_path %(d)s; fastcgi_temp_path %(d)s;
       uwsgi_temp_path %(d)s; scgi_temp_path %(d)s;
  server { listen 127.0.0.1:%(p)d ssl; ssl_certificate %(d)s/server.pem; ssl_certificate_key %(d)s/server.key;
           location / { proxy_pass http://127.0.0.1:%(s)d; proxy_set_header Host $host:$server_port;
                        proxy_set_header X-Forwarded-Proto https; } } }
""" % {"d": tls, "p": self.tls_port, "s": self.args.port})
        self.start(["nginx", "-c", os.path.join(tls, "nginx.conf"), "-p", tls], stdout=subprocess.DEVNULL,
                   stderr=open(os.path.join(self.tmp, "nginx.log"), "wb"))
        def listening():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", self.tls_port)) == 0
        wait_for(listening, 15, "nginx to listen")

    def keep_page(self, press, shot):
        """A press on the loopback page: the installed host starts the installed TorvoTool, which
        shows its window; a click on 저장 stores the page with its thumbnail."""
        before = set(os.listdir(os.path.join(self.home, "Torvo"))) if os.path.isdir(os.path.join(self.home, "Torvo")) else set()
        press()

        def tool():
            for pid in run(["pgrep", "-x", "TorvoTool"]).stdout.split():
                try:
                    if ("HOME=" + self.home).encode() in open("/proc/%s/environ" % pid, "rb").read().split(b"\0"):
                        return pid
                except OSError:
                    pass
            return None
        pid = wait_for(tool, 30, "TorvoTool to start")
        window = wait_for(lambda: (self.xdotool("search", "--onlyvisible", "--pid", pid, "--name", "^Torvo$") or [None])[0],
                          30, "TorvoTool's window")
        time.sleep(1.0)
        run(["import", "-window", "root", os.path.join(self.args.shots, shot)], env=self.env)
        # The save button's place in the window is fixed (3360, 2280 twips, 1215 x 375, 15 twips a pixel).
        self.xdotool("mousemove", "--window", window, "264", "164", "click", "1")
        wait_for(lambda: not os.path.exists("/proc/" + pid), 30, "TorvoTool to end after 저장")
        listing = must(["/usr/bin/torvo-service", "image", "list", "--data", self.data, IDENTITY], "image list", env=self.env)
        rows = [line.split("\t") for line in listing.splitlines()]
        entries = [dict(zip(rows[0], r)) for r in rows[1:]]
        kept = [e for e in entries if e.get("url") == self.page and e["name"] not in self.uploaded]
        check(len(kept) == 1 and kept[0]["title"] == self.page_title, "the service holds the kept page: %s" % kept)
        name = kept[0]["name"]
        stored = [os.path.join(root, f) for root, _, files in os.walk(self.data) for f in files if f.startswith(name)]
        thumbnail = os.path.join(self.home, "Torvo", name + ".png")
        check(len(stored) == 1 and os.path.exists(thumbnail) and open(stored[0], "rb").read() == open(thumbnail, "rb").read()
              and open(thumbnail, "rb").read().startswith(b"\x89PNG"),
              "the page's thumbnail is stored by the service and kept in ~/Torvo")
        self.uploaded.append(name)

    # --- Chromium ----------------------------------------------------------------------------------

    def chromium_road(self):
        """Chromium, started as a user starts it, with a profile of the test's own: the package's
        extension runs there without developer mode; a press while not connected opens its options
        page saying why; every failure of Connect has its own message and saves nothing; Connect
        with address, name and password saves; a press keeps the page."""
        shots = self.args.shots
        log = open(os.path.join(self.tmp, "chromium.log"), "wb")
        profile = os.path.join(self.home, ".config", "chromium")
        chromium = browsers.Chromium(profile, self.env, log)
        try:
            worker = "chrome-extension://%s/background.js" % self.chromium_id
            wait_for(lambda: any(t["url"] == worker for t in chromium.targets()), 30,
                     "the extension's background worker in Chromium")
            check(True, "Chromium runs the installed extension %s" % self.chromium_id)
            target, session = chromium.open("chrome://extensions/?id=" + self.chromium_id)
            wait_for(lambda: chromium.evaluate(session, "document.readyState") == "complete", 20, "chrome://extensions")
            time.sleep(1.5)
            chromium.screenshot(session, os.path.join(shots, "chromium-extensions.png"))
            chromium.command("Target.closeTarget", {"targetId": target})

            page_target, page_session = chromium.open(self.page)
            wait_for(lambda: chromium.evaluate(page_session, "document.readyState") == "complete", 20, "the page")

            def press():
                chromium.command("Target.activateTarget", {"targetId": page_target})
                window = wait_for(lambda: (self.xdotool("search", "--onlyvisible", "--name", self.page_title) or [None])[0],
                                  20, "Chromium's window with the page")
                self.xdotool("windowactivate", "--sync", window)
                time.sleep(0.5)
                self.xdotool("key", "alt+shift+k")
            press()
            options_url = "chrome-extension://%s/options.html" % self.chromium_id
            options = wait_for(lambda: next((t["targetId"] for t in chromium.targets() if t["url"] == options_url), None),
                               20, "the options page after a press while not connected")
            session = chromium.command("Target.attachToTarget", {"targetId": options, "flatten": True})["sessionId"]
            def why_line():
                try:  # the page may still be loading
                    return chromium.evaluate(session, "document.readyState === 'complete' && "
                                             "!document.getElementById('why').hidden && document.getElementById('why').textContent")
                except browsers.BrowserError:
                    return None
            why = wait_for(why_line, 15, "the line why")
            check(why in self.texts("notConnected"), "the options page says why it opened: %r" % why)

            def connect(**fields):
                script = """(async () => {
                    for (const [id, value] of Object.entries(%s)) document.getElementById(id).value = value;
                    const status = document.getElementById("status");
                    status.textContent = "";
                    status.className = "";
                    document.getElementById("connect").click();
                    for (let i = 0; i < 600; ++i) {
                      await new Promise((r) => setTimeout(r, 100));
                      if (!document.getElementById("connect").disabled && status.className) break;
                    }
                    const stored = await chrome.storage.local.get(null);
                    return {text: status.textContent, kind: status.className, detail: document.getElementById("detail").textContent,
                            stored: stored.toolbarId ?? null};
                  })()""" % json.dumps(dict({"service": "", "name": "", "password": "", "toolbarId": ""}, **fields))
                return chromium.evaluate(session, script, timeout=90)

            service = "http://127.0.0.1:%d/" % self.args.port
            failures = [
                ("unreachable", dict(service="http://127.0.0.1:%d/" % self.closed_port, name=IDENTITY, password=PASSWORD)),
                ("not_torvo", dict(service="http://127.0.0.1:%d/" % self.web_port, name=IDENTITY, password=PASSWORD)),
                ("untrusted_certificate", dict(service="https://127.0.0.1:%d/" % self.tls_port, name=IDENTITY,
                                               password=PASSWORD)),
                ("signed_out", dict(service=service, toolbarId="no-such-device-id")),
            ]
            for code, fields in failures:
                answer = connect(**fields)
                print("Connect (%s):" % code, answer)
                check(answer["kind"] == "error" and answer["text"] in self.texts("connect_" + code),
                      "Connect says %s in its own words: %r" % (code, answer["text"]))
                check(answer["stored"] is None and self.connection_file() is None, "a failed Connect (%s) saves nothing" % code)

            answer = connect(service=service, name=IDENTITY, password=PASSWORD)
            print("Connect:", answer)
            check(answer["kind"] == "ok" and answer["text"] in self.texts("connectedAs", IDENTITY, 1),
                  "Connect with address, name and password says: %r" % answer["text"])
            connection = self.connection_file()
            path = os.path.join(self.home, ".config", "torvo", "connection")
            check(connection is not None and "service = " + service in connection
                  and "identity = " + answer["stored"] in connection and os.stat(path).st_mode & 0o777 == 0o600,
                  "the connection file names the service and the device's ToolbarID, readable by the user alone")
            check(answer["stored"] != IDENTITY, "the browser signed in with a ToolbarID of its own")
            chromium.command("Target.activateTarget", {"targetId": options})
            time.sleep(1.0)
            chromium.screenshot(session, os.path.join(shots, "chromium-options-connected.png"))

            self.keep_page(press, "chromium-torvotool.png")

            # A wrong password, last: the service slows the name down after it.
            before = self.connection_file()
            answer = connect(service=service, name=IDENTITY, password="not " + PASSWORD)
            print("Connect (credentials):", answer)
            check(answer["kind"] == "error" and answer["text"] in self.texts("connect_credentials"),
                  "Connect says the password is wrong: %r" % answer["text"])
            check(self.connection_file() == before, "a wrong password leaves the saved connection as it was")
        finally:
            chromium.close()
        prefs = json.load(open(os.path.join(profile, "Default", "Preferences"), encoding="utf-8"))
        check(not prefs.get("extensions", {}).get("ui", {}).get("developer_mode", False),
              "Chromium's developer mode stayed off")

    # --- Firefox ESR -------------------------------------------------------------------------------

    def firefox_road(self):
        """Firefox ESR with a fresh profile installs the XPI at its start, through the policies; its
        options page connects with a ToolbarID pasted; a press keeps the page."""
        log = open(os.path.join(self.tmp, "firefox.log"), "wb")
        firefox = browsers.Firefox(os.path.join(self.tmp, "firefox-profile"), self.env, log)
        try:
            def installed():
                return firefox.run_async("chrome", """
                    const [id, done] = arguments;
                    const {AddonManager} = ChromeUtils.importESModule("resource://gre/modules/AddonManager.sys.mjs");
                    AddonManager.getAddonByID(id).then((addon) => done(addon && addon.isActive ? {
                        version: addon.version, source: addon.installTelemetryInfo?.source ?? null,
                        host: WebExtensionPolicy.getByID(id)?.mozExtensionHostname ?? null} : null), () => done(null));""",
                                         [GECKO_ID])
            addon = wait_for(lambda: (lambda a: a if a and a["host"] else None)(installed()), 60,
                             "Firefox to install the extension")
            print("Firefox add-on:", addon)
            check(addon["source"] == "enterprise-policy", "Firefox ESR installed the extension through the policy")
            firefox.navigate("about:addons")
            firefox.run("content", 'document.querySelector(\'button[viewid="addons://list/extension"]\')?.click();')
            time.sleep(2)
            firefox.screenshot(os.path.join(self.args.shots, "firefox-addons.png"))

            # A ToolbarID of a device of its own, as the service's settings page or its command issues one.
            added = must(["/usr/bin/torvo-service", "device", "add", "--data", self.data, IDENTITY, "--device", "Firefox"],
                         "device add", env=self.env).split()
            check(len(added) >= 1, "the service issued a device ToolbarID: %s" % added)
            pasted = added[-1]
            firefox.navigate("moz-extension://%s/options.html" % addon["host"])
            time.sleep(1.0)  # the page has shown its state
            answer = firefox.run_async("content", """
                const [service, toolbarId, done] = arguments;
                document.getElementById("service").value = service;
                document.getElementById("toolbarId").value = toolbarId;
                const status = document.getElementById("status");
                status.textContent = "";
                status.className = "";
                document.getElementById("connect").click();
                const wait = (i) => (!document.getElementById("connect").disabled && status.className) || i > 600
                  ? done({text: status.textContent, kind: status.className}) : setTimeout(() => wait(i + 1), 100);
                wait(0);""", ["http://127.0.0.1:%d/" % self.args.port, pasted])
            print("Firefox Connect:", answer)
            check(answer["kind"] == "ok" and answer["text"] in self.texts("connectedWithId", 1),
                  "Firefox's options page connects with a ToolbarID: %r" % answer["text"])
            check("identity = " + pasted in self.connection_file(), "the connection file holds the pasted ToolbarID")
            firefox.screenshot(os.path.join(self.args.shots, "firefox-options-connected.png"))

            firefox.navigate(self.page)
            time.sleep(1.0)

            def press():
                firefox.run("chrome", """
                    const {ExtensionParent} = ChromeUtils.importESModule("resource://gre/modules/ExtensionParent.sys.mjs");
                    const extension = WebExtensionPolicy.getByID(arguments[0]).extension;
                    ExtensionParent.apiManager.global.browserActionFor(extension).triggerAction(window);""", [GECKO_ID])
            self.keep_page(press, "firefox-torvotool.png")
        finally:
            firefox.close()

    # --- the service and TorvoSync ---------------------------------------------------------------

    def start_service(self):
        """torvo-service as its unit starts it, with one user who has a password and three images."""
        commands = self.unit_commands()
        data = self.data = commands["ExecStart"][commands["ExecStart"].index("--data") + 1]
        port = int(commands["ExecStart"][commands["ExecStart"].index("--port") + 1])
        check(port == self.args.port, "the unit serves the port this build's programs use")
        must(commands["ExecStartPre"], "the unit's ExecStartPre", env=self.env)

        cli = ["/usr/bin/torvo-service"]
        password_file = os.path.join(self.tmp, "password")
        with open(password_file, "w") as f:
            f.write(PASSWORD + "\n")
        must(cli + ["user", "add", "--data", data, IDENTITY, "--toolbar-id", IDENTITY, "--password-file", password_file],
             "user add", env=self.env)
        self.images = {}
        for seed in range(3):
            path = os.path.join(self.tmp, "%d.png" % seed)
            with open(path, "wb") as f:
                f.write(png_bytes(seed))
            out = must(cli + ["image", "add", "--data", data, IDENTITY, path], "image add", env=self.env)
            names = re.findall(r"\d{14}", out)
            check(len(names) == 1, "the service stored image %d as %s" % (seed, names))
            self.images[names[0] + ".png"] = png_bytes(seed)

        def port_free():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", port)) != 0
        wait_for(port_free, 180, "port %d to be free" % port)
        log = open(os.path.join(self.tmp, "service.log"), "wb")
        self.service = self.start(commands["ExecStart"], stdout=log, stderr=subprocess.STDOUT)

        def port_open():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", port)) == 0
        wait_for(port_open, 15, "the service to listen")

    def sync_against_service(self):
        """TorvoSync started exactly as its desktop entry says: the connection's album."""
        images = dict(self.images)
        for name in self.uploaded:
            images[name + ".png"] = open(os.path.join(self.home, "Torvo", name + ".png"), "rb").read()
        service = self.service
        self.start_display()

        app_log = open(os.path.join(self.tmp, "app.log"), "wb")
        entry = open("/usr/share/applications/org.torvo.TorvoSync.desktop", encoding="utf-8").read()
        exec_line = re.search(r"^Exec=(.*)$", entry, re.M).group(1).split()
        check([w for w in exec_line if not w.startswith("%")] == ["TorvoSync"], "the desktop entry starts TorvoSync alone")
        app = self.start(exec_line, stdout=app_log, stderr=subprocess.STDOUT)

        def xdotool(*words):
            return run(["xdotool", *words], env=self.env).stdout.split()
        window = wait_for(lambda: (xdotool("search", "--onlyvisible", "--name", "^Torvo Sync$") or [None])[0], 20,
                          "the Torvo Sync window")
        time.sleep(0.5)
        album = os.path.join(self.home, "Torvo")
        check(sorted(os.listdir(album)) == sorted(n + ".png" for n in self.uploaded),
              "~/Torvo holds only the pages kept before Sync is pressed")
        xdotool("mousemove", "--window", window, "45", "22", "click", "1")

        def synced():
            return os.path.isdir(album) and sorted(os.listdir(album)) == sorted(images)
        try:
            wait_for(synced, 30, "~/Torvo to hold the album's images")
        finally:
            os.makedirs(self.args.shots, exist_ok=True)
            run(["import", "-window", "root", os.path.join(self.args.shots, "installed-sync.png")], env=self.env)
        for name, data in images.items():
            check(open(os.path.join(album, name), "rb").read() == data, "~/Torvo/%s holds the service's bytes" % name)
        check(app.poll() is None, "TorvoSync runs on after the sync")
        app.send_signal(signal.SIGTERM)
        app.wait(10)
        service.send_signal(signal.SIGTERM)
        check(service.wait(10) == 0, "the service stops cleanly on SIGTERM, as systemd stops it")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    if os.environ.get("TORVO_INSTALL_TEST") != "1":
        print("install test skipped: it installs and removes the package torvo; set TORVO_INSTALL_TEST=1")
        return SKIPPED
    # A fresh build folder has no place for the screenshots yet.
    os.makedirs(args.shots, exist_ok=True)
    test = Test(args)
    started = time.monotonic()
    try:
        test.build_package()
        test.install()
        test.check_programs()
        test.check_files()
        test.check_extension_files()
        test.start_service()
        test.start_display()
        test.start_helpers()
        test.chromium_road()
        test.firefox_road()
        test.sync_against_service()
        test.remove()
    except (Failure, browsers.BrowserError, subprocess.TimeoutExpired) as failure:
        print("FAILED:", failure, file=sys.stderr)
        for log in ("service.log", "app.log", "chromium.log", "firefox.log", "nginx.log", "http.log"):
            path = os.path.join(test.tmp, log)
            if os.path.exists(path):
                sys.stderr.write("--- %s\n%s\n" % (log, open(path, "rb").read().decode(errors="replace")[-3000:]))
        return 1
    finally:
        test.close()
    print("install test: all checks passed in %.0f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
