#!/usr/bin/env python3
"""Real servers for the download engine's tests and benchmark, alive only while one command runs.

    servers.py --work DIR [--docroot DIR] [--prefix WINEPREFIX --wine-run SCRIPT --trust-tool EXE]
               -- COMMAND...

Starts on 127.0.0.1, on ports chosen now:
  * nginx: plain HTTP, HTTPS with a certificate of the test authority (/redirect/<port>/<name>
    sends to that port's HTTPS server), and HTTPS with a certificate of an authority nobody
    trusts; /rate/<bytes per second>/<name> serves a file slowly;
  * the fault back end (this file): what nginx cannot do on demand, see FaultHandler.
Then runs COMMAND with the ports and paths in VMDL_* environment variables (paths in Windows
form, Z: being the root under Wine), stops everything and exits with COMMAND's exit code.
The test authority is made once per work folder and added to the Root store of WINEPREFIX only.
When run as root, a 1 MiB tmpfs is mounted for the run (VMDL_SMALL_DISK), for a full disk.
A gtest listing (--gtest_list_tests) runs without servers."""

import argparse
import email.utils
import fcntl
import hashlib
import http.server
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, process=None, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_authority(pki, name):
    """<name>-ca and <name>-server (for 127.0.0.1): .key, .pem and .der."""
    new = ("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650")
    openssl(*new, "-subj", f"/CN=VM download test {name}", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", f"{name}-ca.key",
            "-out", f"{name}-ca.pem", cwd=pki)
    openssl(*new, "-subj", "/CN=127.0.0.1", "-CA", f"{name}-ca.pem", "-CAkey", f"{name}-ca.key",
            "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1", "-addext", "extendedKeyUsage=serverAuth",
            "-addext", "basicConstraints=CA:FALSE", "-keyout", f"{name}-server.key",
            "-out", f"{name}-server.pem", cwd=pki)
    for kind in ("ca", "server"):
        openssl("x509", "-in", f"{name}-{kind}.pem", "-outform", "DER", "-out", f"{name}-{kind}.der", cwd=pki)


def ensure_pki(pki):
    os.makedirs(pki, exist_ok=True)
    with open(os.path.join(pki, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(pki, "ready")):
            for name in ("trusted", "rogue"):
                make_authority(pki, name)
            open(os.path.join(pki, "ready"), "w").close()


def trust_in_prefix(pki, prefix, wine_run, tool):
    """Adds the test authority to the prefix's Root store once per authority and prefix."""
    der = os.path.join(pki, "trusted-ca.der")
    digest = hashlib.sha256(open(der, "rb").read()).hexdigest()[:16]
    stamp = os.path.join(prefix, f".vm-download-ca-{digest}")
    if os.path.exists(stamp):
        return
    subprocess.run([wine_run, prefix, tool, windows_path(der)], check=True)
    open(stamp, "w").close()


NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
error_log {work}/nginx-error.log warn;
pid {work}/nginx.pid;
events {{ worker_connections 256; }}
http {{
    log_format vm '$request_uri $request_method $status range=$http_range ius=$http_if_unmodified_since';
    access_log {work}/access.log vm;
    client_body_temp_path {work}/tmp/body;
    proxy_temp_path {work}/tmp/proxy;
    fastcgi_temp_path {work}/tmp/fastcgi;
    uwsgi_temp_path {work}/tmp/uwsgi;
    scgi_temp_path {work}/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 65;
    server {{
        listen 127.0.0.1:{http};
        root {docroot};
        location ~ ^/rate/(?<rate>[0-9]+)/(?<name>.+)$ {{
            alias {docroot}/$name;
            limit_rate $rate;
        }}
    }}
{tls_servers}
}}
"""


TLS_SERVER = """    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {pki}/{name}-server.pem;
        ssl_certificate_key {pki}/{name}-server.key;
        ssl_protocols TLSv1 TLSv1.1 TLSv1.2;
        root {docroot};
        {extra}
    }}"""
REDIRECT = "location ~ ^/redirect/(?<port>[0-9]+)/(?<name>.+)$ { return 302 https://127.0.0.1:$port/$name; }"


def set_parent_death_signal():
    # nginx goes when this driver goes, however it ends.
    try:
        import ctypes
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except OSError:
        pass


def start_nginx(work, docroot, pki):
    for attempt in range(5):
        ports = {"http": free_port(), "https": free_port(), "rogue": free_port()}
        os.makedirs(os.path.join(work, "tmp"), exist_ok=True)
        conf = os.path.join(work, "nginx.conf")
        with open(conf, "w") as f:
            tls = "\n".join(TLS_SERVER.format(port=ports[key], name=name, pki=pki, docroot=docroot, extra=extra)
                            for key, name, extra in (("https", "trusted", REDIRECT), ("rogue", "rogue", "")))
            f.write(NGINX_CONF.format(work=work, docroot=docroot, tls_servers=tls, **ports))
        process = subprocess.Popen(["nginx", "-e", os.path.join(work, "nginx-error.log"), "-p", work,
                                    "-c", conf], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, preexec_fn=set_parent_death_signal)
        if all(wait_listening(p, process) for p in ports.values()):
            return process, ports
        stop_process(process)
    raise RuntimeError("nginx did not start: " + open(os.path.join(work, "nginx-error.log")).read())


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class FaultHandler(http.server.BaseHTTPRequestHandler):
    """GET/HEAD /fault/<key>/<options>/<file> serves <docroot>/<file> like a static server
    (Range "bytes=N-", If-Unmodified-Since, Last-Modified from the file's time), changed by the
    comma-separated options:
      seq=<a>.<b>...  what the n-th request of <key> gets: "ok", an HTTP status, or "drop<N>"
                      (headers for the whole answer, then N body bytes, then the connection is
                      closed), "shift<N>" (a ranged answer that starts N bytes late) or
                      "stall<ms>" (answered "ok" that much later). An item ending in "*"
                      repeats; after the list, requests are "ok".
      nolm            no Last-Modified;
      nocl            no Content-Length (the body ends when the connection closes);
      norange         Range is ignored: the whole file with 200;
      date=<seconds>  the Date header that far from now (negative: in the past).
A query string is not part of <file>. The same handler also answers over TLS with the test
authority's server certificate (VMDL_FAULT_TLS_PORT).
    Each request is recorded under its key as "<method> <status> range=<..> ius=<..>"."""

    protocol_version = "HTTP/1.1"
    server_version = "VmFault/1"
    date_offset = 0

    def date_time_string(self, timestamp=None):
        return super().date_time_string(time.time() + self.date_offset if timestamp is None else timestamp)

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.handle_any(head=True)

    def do_GET(self):
        self.handle_any(head=False)

    def handle_any(self, head):
        parts = self.path.split("/")
        if len(parts) < 5 or parts[1] != "fault":
            return self.send_text(404, "not found\n", head)
        key, options, name = parts[2], parts[3], "/".join(parts[4:]).partition("?")[0]
        options = dict(item.partition("=")[::2] for item in options.split(",") if item)
        self.date_offset = int(options.get("date") or 0)
        self.serve(key, options, name, head)

    def action(self, options, index):
        sequence = [a for a in options.get("seq", "").split(".") if a]
        if index < len(sequence):
            return sequence[index].rstrip("*")
        if sequence and sequence[-1].endswith("*"):
            return sequence[-1].rstrip("*")
        return "ok"

    def serve(self, key, options, name, head):
        log = os.path.join(self.server.log_folder, key)
        with self.server.log_lock:
            action = self.action(options, len(open(log).readlines()) if os.path.exists(log) else 0)
        range_header = self.headers.get("Range", "")
        ius = self.headers.get("If-Unmodified-Since", "")

        def record(status):
            with self.server.log_lock, open(log, "a") as f:
                f.write(f"{self.command} {status} range={range_header} ius={ius}\n")

        path = os.path.join(self.server.docroot, name)
        if action.startswith("stall"):
            time.sleep(int(action[5:]) / 1000)
        if action.isdigit():
            record(int(action))
            return self.send_text(int(action), f"fault {action}\n", head)
        try:
            with open(path, "rb") as f:
                data = f.read()
            mtime = int(os.stat(path).st_mtime)
        except OSError:
            record(404)
            return self.send_text(404, "not found\n", head)

        status, body, content_range = 200, data, None
        if ius:
            try:
                limit = email.utils.parsedate_to_datetime(ius).timestamp()
            except (TypeError, ValueError):
                limit = None
            if limit is not None and mtime > limit:
                record(412)
                return self.send_text(412, "precondition failed\n", head)
        if range_header.startswith("bytes=") and "norange" not in options:
            first, _, last = range_header[6:].partition("-")
            start = int(first or 0)
            if action.startswith("shift"):
                start += int(action[5:])
            end = int(last) if last else len(data) - 1
            if start >= len(data):
                record(416)
                return self.send_text(416, "range not satisfiable\n", head)
            status, body = 206, data[start:end + 1]
            content_range = f"bytes {start}-{start + len(body) - 1}/{len(data)}"
        record(status)

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if "nolm" not in options:
            self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
        if content_range:
            self.send_header("Content-Range", content_range)
        if "nocl" in options:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if head:
            return
        if action.startswith("drop"):
            self.wfile.write(body[:int(action[4:] or 0)])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.wfile.write(body)

    def send_text(self, status, text, head):
        body = text.encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head:
            self.wfile.write(body)


class FaultServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    log_lock = threading.Lock()  # one for the plain and the TLS server, which share the records

    def __init__(self, docroot, log_folder):
        super().__init__(("127.0.0.1", 0), FaultHandler)
        self.docroot = docroot
        self.log_folder = log_folder

    def handle_error(self, request, client_address):
        # A client that closes early (after a refusing status, or when killed) is expected.
        if not isinstance(sys.exc_info()[1], (ConnectionError, BrokenPipeError)):
            super().handle_error(request, client_address)


def start_demo_backend(script, folder):
    """The demo back end on a free port with its files under folder: (its stop, its port)."""
    env = dict(os.environ, DEMO_BACKEND_DIR=folder)
    for attempt in range(5):
        port = free_port()
        if subprocess.call([script, "start", str(port)], env=env, stdout=subprocess.DEVNULL) == 0:
            return (lambda: subprocess.call([script, "stop", str(port)], env=env, stdout=subprocess.DEVNULL)), port
    raise RuntimeError("the demo back end did not start")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True, help="folder for this run's files (removed after)")
    parser.add_argument("--docroot", help="serve this folder (kept) instead of a fresh one")
    parser.add_argument("--prefix")
    parser.add_argument("--wine-run")
    parser.add_argument("--trust-tool")
    parser.add_argument("--demo-backend", help="also start this scripts/demo-backend.sh (VMDL_DEMO_PORT)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    if "--gtest_list_tests" in command:
        return subprocess.call(command)

    os.makedirs(args.work, exist_ok=True)
    work = tempfile.mkdtemp(prefix="run-", dir=args.work)
    pki = os.path.abspath(os.path.join(args.work, "pki"))
    docroot = os.path.abspath(args.docroot) if args.docroot else os.path.join(work, "docroot")
    os.makedirs(docroot, exist_ok=True)

    nginx = fault = tls_fault = demo = None
    small = os.path.join(work, "small")
    os.makedirs(small)
    mounted = os.geteuid() == 0 and subprocess.call(
        ["mount", "-t", "tmpfs", "-o", "size=1m", "vmdl-small", small], stderr=subprocess.DEVNULL) == 0
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        ensure_pki(pki)
        if args.prefix and args.wine_run and args.trust_tool:
            trust_in_prefix(pki, args.prefix, args.wine_run, args.trust_tool)
        nginx, ports = start_nginx(work, docroot, pki)
        fault_log = os.path.join(work, "fault")
        os.makedirs(fault_log)
        fault = FaultServer(docroot, fault_log)
        threading.Thread(target=fault.serve_forever, daemon=True).start()
        tls_fault = FaultServer(docroot, fault_log)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(pki, "trusted-server.pem"), os.path.join(pki, "trusted-server.key"))
        tls_fault.socket = context.wrap_socket(tls_fault.socket, server_side=True)
        threading.Thread(target=tls_fault.serve_forever, daemon=True).start()
        if args.demo_backend:
            demo = start_demo_backend(args.demo_backend, os.path.join(work, "demo"))

        env = dict(os.environ)
        env.update({
            "VMDL_HTTP_PORT": str(ports["http"]),
            "VMDL_HTTPS_PORT": str(ports["https"]),
            "VMDL_HTTPS_ROGUE_PORT": str(ports["rogue"]),
            "VMDL_FAULT_PORT": str(fault.server_address[1]),
            "VMDL_FAULT_TLS_PORT": str(tls_fault.server_address[1]),
            "VMDL_DOCROOT": windows_path(docroot),
            "VMDL_ACCESS_LOG": windows_path(os.path.join(work, "access.log")),
            "VMDL_SERVER_CERT": windows_path(os.path.join(pki, "trusted-server.der")),
            "VMDL_FAULT_LOG": windows_path(fault_log),
            "VMDL_DOCROOT_UNIX": docroot,
        })
        if mounted:
            env["VMDL_SMALL_DISK"] = windows_path(small)
        if demo:
            env["VMDL_DEMO_PORT"] = str(demo[1])
        return subprocess.call(command, env=env)
    finally:
        for server in (fault, tls_fault):
            if server is not None:
                server.shutdown()
                server.server_close()
        if demo:
            demo[0]()
        if nginx is not None:
            stop_process(nginx)
        if mounted:
            subprocess.call(["umount", small])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
