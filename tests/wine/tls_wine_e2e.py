#!/usr/bin/env python3
"""TorvoTool.exe and TorvoSync.exe under Wine with the user's connection (%APPDATA%\\Torvo\\connection)
to the Linux torvo-service behind a real TLS proxy (nginx) under a sub-path, its certificate from a
CA this test makes with openssl: torvo-connect.exe refuses without the CA and saves the connection
with it; the sync downloads the album and the upload is stored as sent. With a certificate of another CA both say the certificate of the host is
not trusted and nothing goes either way; a man in the middle who lets the first connections through
and answers the later ones with a certificate of his own never reads a byte of a request (the
ToolbarID in the album's address above all); without a connection, programs built without a fixed
service say "not connected" and how to connect. Screenshots in --shots.

  tls_wine_e2e.py --tool TorvoTool.exe --sync TorvoSync.exe --connect torvo-connect.exe --unconnected-tool DIR/TorvoTool.exe
                  --unconnected-sync DIR/TorvoSync.exe --spy message_spy.exe --service torvo-service
                  --port 8766 --prefix WINEPREFIX --shots DIR
"""
import argparse
import glob
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "sync", "win32", "tests"))
sys.path.insert(0, os.path.join(SOURCE, "sync", "tests", "e2e"))
import sync_wine_e2e  # noqa: E402  the Wine run: display, programs, message boxes, controls
from sync_e2e import Failure, check, png_bytes, wait_for  # noqa: E402

IDENTITY = "tls-user"
PASSWORD = "correct horse 7"
LINE = IDENTITY + ";^;http://example.com/kept page;^;TLS title;^;TLS%20note"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def openssl(*words, cwd):
    subprocess.run(["openssl", *words], cwd=cwd, check=True, capture_output=True)


def make_ca(folder, name):
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", name + ".key", "-out", name + ".pem", "-days", "2", "-subj", "/CN=Torvo test " + name,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            cwd=folder)
    return os.path.join(folder, name + ".pem")


def make_server_certificate(folder, ca, name="server"):
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", name + ".key",
            "-out", name + ".csr", "-subj", "/CN=127.0.0.1", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n")
    openssl("x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
            "-days", "2", "-extfile", "server.ext", "-out", name + ".pem", cwd=folder)
    return os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")


class Interceptor:
    """A man in the middle on the way to the TLS proxy: the first `honest` connections pass to the
    proxy untouched, every later one is answered with his own certificate (another CA's, made out
    to the same address). What a client sends him over TLS is recorded."""

    def __init__(self, target_port, certificate, key, honest):
        self.target_port = target_port
        self.honest = honest
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certificate, key)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.connections = 0
        self.intercepted = 0
        self.received = b""
        self.threads = []
        accept = threading.Thread(target=self.accept, daemon=True)
        accept.start()

    def accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                honest = self.connections <= self.honest
                if not honest:
                    self.intercepted += 1
            thread = threading.Thread(target=self.relay if honest else self.intercept, args=(conn,), daemon=True)
            self.threads.append(thread)
            thread.start()

    def relay(self, conn):
        try:
            upstream = socket.create_connection(("127.0.0.1", self.target_port), timeout=10)
        except OSError:
            conn.close()
            return

        def pump(src, dst):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    dst.sendall(data)
            except OSError:
                pass
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        back = threading.Thread(target=pump, args=(upstream, conn), daemon=True)
        back.start()
        pump(conn, upstream)
        back.join(30)
        conn.close()
        upstream.close()

    def intercept(self, conn):
        conn.settimeout(20)
        try:
            with self.context.wrap_socket(conn, server_side=True) as tls:
                while True:
                    data = tls.recv(65536)
                    if not data:
                        break
                    with self.lock:
                        self.received += data
        except (ssl.SSLError, OSError):
            pass
        finally:
            conn.close()

    def stop(self):
        self.listener.close()
        for thread in self.threads:
            thread.join(30)


def empty(folder):
    """The folder made empty (and made when missing)."""
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))


class TlsRun(sync_wine_e2e.WineRun):
    def __init__(self, args):
        super().__init__(args)
        self.certs = os.path.join(self.tmp, "certs")
        os.makedirs(self.certs)
        self.proxy_port = free_port()
        self.nginx = None

    # --- the service behind the TLS proxy ---------------------------------------------------------

    def start_service_behind_proxy(self, upload_host="127.0.0.1"):
        if self.service:
            self.service.terminate()
            self.service.wait(10)
        base = "https://127.0.0.1:%d/torvo" % self.proxy_port
        wait_for(lambda: self.port_free(self.args.port), 180, "port %d to be free" % self.args.port)
        ready = os.path.join(self.tmp, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        self.service = self.start([self.args.service, "serve", "--data", self.data, "--port", str(self.args.port),
                                   "--image-base", base, "--upload-host", upload_host, "--ready-file", ready],
                                  stdout=subprocess.DEVNULL, stderr=open(self.service_log, "ab"))
        wait_for(lambda: os.path.exists(ready) and os.path.getsize(ready) > 0, 10, "the service")

    @staticmethod
    def port_free(port):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", port)) != 0

    def start_proxy(self, certificate, key):
        folder = os.path.join(self.tmp, "nginx")
        os.makedirs(folder)
        config = os.path.join(folder, "nginx.conf")
        with open(config, "w") as f:
            f.write("""daemon off;
master_process off;
pid {d}/nginx.pid;
error_log {d}/error.log;
events {{ worker_connections 64; }}
http {{
  log_format torvo '$connection $request';
  access_log {d}/access.log torvo;
  client_body_temp_path {d}/body;
  proxy_temp_path {d}/proxy;
  fastcgi_temp_path {d}/fastcgi;
  uwsgi_temp_path {d}/uwsgi;
  scgi_temp_path {d}/scgi;
  client_max_body_size 20m;
  server {{
    listen 127.0.0.1:{port} ssl;
    listen 127.0.0.2:{port} ssl;
    ssl_certificate {cert};
    ssl_certificate_key {key};
    location /torvo/ {{
      proxy_pass http://127.0.0.1:{service}/;
      proxy_set_header X-Forwarded-Proto https;
    }}
  }}
}}
""".format(d=folder, port=self.proxy_port, cert=certificate, key=key, service=self.args.port))
        self.nginx = self.start(["nginx", "-e", os.path.join(folder, "error.log"), "-c", config],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: not self.port_free(self.proxy_port), 10, "nginx on port %d" % self.proxy_port)

    def proxy_requests(self):
        """The requests the proxy has answered, in order: "CONNECTION METHOD TARGET VERSION"."""
        with open(os.path.join(self.tmp, "nginx", "access.log")) as f:
            return [line.strip() for line in f if line.strip()]

    def stored(self):
        """The names of the user's images in the service."""
        return sorted(l.split()[0] for l in self.service_cli("image", "list", IDENTITY).splitlines() if l.strip())

    def image_bytes(self, name):
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open("http://127.0.0.1:%d/img/%s/%s.png" % (self.args.port, IDENTITY, name), timeout=10) as reply:
            return reply.read()

    # --- the connection file in the Wine prefix ------------------------------------------------

    def connection_file(self):
        roaming = [p for p in glob.glob(os.path.join(self.args.prefix, "drive_c", "users", "*", "AppData", "Roaming"))
                   if os.sep + "Public" + os.sep not in p]
        if not roaming:
            raise Failure("the Wine prefix has no user's AppData\\Roaming")
        return os.path.join(roaming[0], "Torvo", "connection")

    def connect(self, certificate, port=None):
        path = self.connection_file()
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write("service = https://127.0.0.1:%d/torvo/\nidentity = %s\ncertificate = Z:%s\n" %
                    (port or self.proxy_port, IDENTITY, certificate.replace("/", "\\")))

    def disconnect(self):
        try:
            os.remove(self.connection_file())
        except FileNotFoundError:
            pass

    # --- TorvoTool.exe ---------------------------------------------------------------------------

    def launch_tool(self, program):
        process = subprocess.Popen(self.wine(program, *LINE.split(" ")), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, env=dict(self.env, LC_ALL="ko_KR.UTF-8"))
        self.processes.append(process)
        return process

    def tool_box(self, name, process):
        """The message box TorvoTool ends on: its text; the program's status."""
        self.window("TorvoTool", 90)
        time.sleep(0.5)
        self.shot(name)
        status, text = self.spy("box", "TorvoTool", "10")
        check(status == 0, "%s: a message box, answered with OK" % name)
        return text.rstrip("\n"), process.wait(30)


def tool_scenario(run, ca, rogue):
    work = run.album
    before = run.stored()

    # Trusted through the connection's CA: the upload goes through the proxy and is stored as sent.
    run.connect(ca)
    tool = run.launch_tool(run.args.tool)
    window = run.window("Torvo", 90)
    time.sleep(0.5)
    run.shot("tool-shown")
    check(os.listdir(work) == ["img.png"], "TorvoTool: the work folder holds img.png (%s)" % os.listdir(work))
    status, _ = run.spy("press", "Torvo", "저장")
    check(status == 0, "TorvoTool: 저장 pressed")
    check(tool.wait(60) == 0, "TorvoTool: stored, it ends by itself with status 0")
    del window
    new = sorted(set(run.stored()) - set(before))
    check(len(new) == 1, "TorvoTool: one image stored over https (%s)" % new)
    kept = os.path.join(work, new[0] + ".png")
    check(os.path.exists(kept), "TorvoTool: the thumbnail kept as %s.png" % new[0])
    with open(kept, "rb") as f:
        check(run.image_bytes(new[0]) == f.read(), "TorvoTool: the service stores exactly the thumbnail's bytes")
    uploads = [l for l in open(os.path.join(run.tmp, "nginx", "access.log")) if "POST " in l and "/torvo/imgUpload.php?" in l]
    check(len(uploads) == 1, "TorvoTool: the upload went through the TLS proxy under /torvo/")

    # A certificate of another CA: refused, naming the host; nothing stored, no work file.
    empty(work)
    before = run.stored()
    run.connect(rogue)
    tool = run.launch_tool(run.args.tool)
    text, status = run.tool_box("tool-untrusted", tool)
    check("127.0.0.1" in text and ("certificate" in text.lower() or "인증서" in text),
          "TorvoTool: an untrusted certificate is refused naming the host (%r)" % text)
    check(status == 1, "TorvoTool: it ends with status 1")
    check(run.stored() == before, "TorvoTool: nothing uploaded")
    check(os.listdir(work) == [], "TorvoTool: the work folder is clean (%s)" % os.listdir(work))

    # The folder list trusted, the upload host not named by the certificate: the upload's own TLS
    # check refuses it before a byte of the upload goes out.
    run.start_service_behind_proxy(upload_host="127.0.0.2")
    run.connect(ca)
    tool = run.launch_tool(run.args.tool)
    run.window("Torvo", 90)
    status, _ = run.spy("press", "Torvo", "저장")
    check(status == 0, "TorvoTool: 저장 pressed (upload host 127.0.0.2)")
    text, status = run.tool_box("tool-upload-untrusted", tool)
    check("127.0.0.2" in text and "인증서" in text,
          "TorvoTool: the upload host's certificate is refused naming the host (%r)" % text)
    check(status == 1, "TorvoTool: it ends with status 1")
    check(run.stored() == before, "TorvoTool: nothing uploaded")
    check(os.listdir(work) == [], "TorvoTool: the work folder is clean (%s)" % os.listdir(work))
    uploads = [l for l in open(os.path.join(run.tmp, "nginx", "access.log")) if "imgUpload.php" in l]
    check(len(uploads) == 1, "TorvoTool: no upload request reached the proxy after the first")


def connect_scenario(run, ca):
    """torvo-connect.exe signs in through the proxy: refused without the CA, saved with it."""
    address = "https://127.0.0.1:%d/torvo/" % run.proxy_port

    def connect(*words):
        result = subprocess.run(run.wine(run.args.connect, address, IDENTITY, "--device", "wine", *words),
                                input=PASSWORD + "\n", capture_output=True, text=True, env=run.env, timeout=120)
        return result.returncode, (result.stdout + result.stderr).replace("\r", "").strip()

    run.disconnect()
    status, said = connect()
    check(status != 0 and "127.0.0.1" in said and "certificate" in said.lower(),
          "torvo-connect.exe: without the CA it refuses naming the host (%d, %r)" % (status, said))
    check(not os.path.exists(run.connection_file()), "torvo-connect.exe: nothing written when refused")
    status, said = connect("--certificate", "Z:" + ca.replace("/", "\\"))
    check(status == 0, "torvo-connect.exe: with the CA it saves (%d, %r)" % (status, said))
    with open(run.connection_file(), encoding="utf-8") as f:
        saved = f.read()
    check("service = " + address in saved and "certificate = Z:" in saved,
          "torvo-connect.exe: %%APPDATA%%\\Torvo\\connection names the address and the CA (%r)" % saved)


def sync_scenario(run, ca, rogue, images):
    # Trusted, with the connection torvo-connect.exe saved (this device's own identity): started
    # without an identity (as from the Start menu), it syncs the connection's album.
    empty(run.album)
    requests_before = len(run.proxy_requests())
    app = run.launch()
    window = run.window("Torvo Sync", 60)
    lines = run.result_after_press(window, "the sync over https")
    run.shot("sync-done")
    n = len(images)
    check(lines[3] == "%d downloaded, 0 already present, 0 failed." % n, "TorvoSync: the result line (%s)" % lines[3])
    got = run.listing()
    check(got == {name + ".png": data for name, data in images.items()},
          "TorvoSync: C:\\Torvo\\ holds the album byte for byte (%s)" % sorted(got))
    # The CA is the connection's alone: the requests go over the checked channel: the list, then
    # the images over the sync's connections ahead (three at most, each kept open for the images
    # it fetches), each image once.
    synced = run.proxy_requests()[requests_before:]
    connections = {line.split()[0] for line in synced}
    check(len(synced) == n + 1 and "/imgList.php" in synced[0] and
          len({line.split()[2] for line in synced}) == n + 1 and len(connections) <= 1 + 3,
          "TorvoSync: the list, then the %d images once each over at most three connections ahead (%s)"
          % (n, synced))
    run.close_window(window)
    check(app.wait(20) == 0, "TorvoSync: closing the window ends it")

    # Untrusted: the message names the host; nothing downloaded.
    empty(run.album)
    run.connect(rogue)
    app = run.launch()
    window = run.window("Torvo Sync", 60)
    run.press(window)
    text = run.message("sync-untrusted")
    check("127.0.0.1" in text and "certificate" in text.lower(),
          "TorvoSync: an untrusted certificate is refused naming the host (%r)" % text)
    check(run.listing() == {}, "TorvoSync: nothing downloaded")
    run.close_window(window)
    app.wait(20)


def interception_scenario(run, ca, impostor, images):
    """The album's list (its address carries the ToolbarID) through a man in the middle. WinINet
    refuses the connection's CA in its handshake; the request must then go only over a connection
    whose certificate was checked first. He lets one connection through (WinINet's): the next
    one is his, and the sync says the certificate is not trusted. He lets two through (WinINet's
    and the checked one): the list comes over the checked one, kept open for the request, and he
    never sees it."""
    for honest in (1, 2):
        interceptor = Interceptor(run.proxy_port, impostor[0], impostor[1], honest)
        try:
            empty(run.album)
            run.connect(ca, port=interceptor.port)
            app = run.launch()
            window = run.window("Torvo Sync", 60)
            if honest == 1:
                run.press(window)
                said = run.message("sync-intercepted")
            else:
                said = run.result_after_press(window, "the sync past a man in the middle")[3]
            run.close_window(window)
            try:
                ended = app.wait(20) == 0
            except subprocess.TimeoutExpired:
                ended = False
        finally:
            interceptor.stop()
        check(interceptor.received == b"",
              "letting %d connection(s) through, the man in the middle read nothing of a request (%r)" %
              (honest, interceptor.received[:200]))
        if honest == 1:
            check(interceptor.intercepted > 0, "the man in the middle answered a connection himself")
            check("127.0.0.1" in said and "certificate" in said.lower(),
                  "TorvoSync: the man in the middle's certificate is refused naming the host (%r)" % said)
            check(run.listing() == {}, "TorvoSync: nothing downloaded through the man in the middle")
        else:
            check(interceptor.connections >= 2, "the checked connection went by the man in the middle too (%d)" %
                  interceptor.connections)
            check(said == "%d downloaded, 0 already present, 0 failed." % len(images),
                  "TorvoSync: the list came over the checked connection (%s)" % said)
        check(ended, "TorvoSync: closing the window ends it")
    empty(run.album)
    run.connect(ca)


def unconnected_scenario(run):
    run.disconnect()
    tool = run.launch_tool(run.args.unconnected_tool)
    text, status = run.tool_box("tool-not-connected", tool)
    check("not connected" in text and "torvo-connect" in text, "TorvoTool: not connected, and how to connect (%r)" % text)
    check(status == 1, "TorvoTool: not connected ends with status 1")

    process = subprocess.Popen(run.wine(run.args.unconnected_sync), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=dict(run.env, LC_ALL="ko_KR.UTF-8"))
    run.processes.append(process)
    window = run.window("Torvo Sync", 60)
    lines = run.result_after_press(window, "Sync without a connection")
    run.shot("sync-not-connected")
    check("not connected" in lines[3].lower() and "torvo-connect" in lines[3],
          "TorvoSync: its window says it is not connected and how to connect (%r)" % lines[3])
    run.close_window(window)
    check(process.wait(20) == 0, "TorvoSync: closing the window ends it")


def main():
    parser = argparse.ArgumentParser()
    for name in ("tool", "sync", "connect", "unconnected-tool", "unconnected-sync", "spy", "service", "prefix", "shots"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--port", type=int, required=True)
    args = parser.parse_args()
    if not os.access(args.service, os.X_OK):
        print("FAIL: no Linux torvo-service at %s (build it in the local preset)" % args.service)
        return 1
    run = TlsRun(args)
    try:
        ca = make_ca(run.certs, "ca")
        rogue = make_ca(run.certs, "rogue")
        certificate, key = make_server_certificate(run.certs, "ca")
        impostor = make_server_certificate(run.certs, "rogue", "impostor")
        password = os.path.join(run.tmp, "password")
        with open(password, "w") as f:
            f.write(PASSWORD + "\n")
        run.service_cli("user", "add", IDENTITY, "--toolbar-id", IDENTITY, "--password-file", password)
        images = {}
        for seed in (1, 2):
            path = os.path.join(run.pngs, "%d.png" % seed)
            with open(path, "wb") as f:
                f.write(png_bytes(seed))
            name = re.findall(r"\d{14}", run.service_cli("image", "add", IDENTITY, path))[0]
            images[name] = png_bytes(seed)
        run.start_service_behind_proxy()
        run.start_proxy(certificate, key)
        run.start_display()
        connect_scenario(run, ca)
        sync_scenario(run, ca, rogue, images)
        interception_scenario(run, ca, impostor, images)
        tool_scenario(run, ca, rogue)
        unconnected_scenario(run)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAIL:", e, flush=True)
        try:
            run.shot("failure")
        except Exception:  # noqa: BLE001  the failure is what is reported
            pass
        return 1
    finally:
        # The prefix is the whole run's: the other Wine tests expect no connection in it.
        run.disconnect()
        run.close()
    print("tls_wine_e2e: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
