#!/usr/bin/env python3
"""Real servers for the download tests and benchmark, alive while one command runs:

    servers.py --work DIR [--docroot DIR] [--prefix WINEPREFIX --wine-run SCRIPT --trust-tool EXE]
               [--demo-backend SCRIPT] -- COMMAND...

On 127.0.0.1, on free ports: nginx (plain HTTP, where /rate/<bytes per second>/<name> is slow;
HTTPS of the test authority, trusted in WINEPREFIX only, where /redirect/<port>/<name> sends to
that port; HTTPS of an authority nobody trusts), the fault back end (FaultHandler) plain and over
TLS, and the demo back end when asked. COMMAND gets their ports and paths in VMDL_* variables
(paths as Wine's Z: sees them) and its exit code is ours. As root, VMDL_SMALL_DISK is a 1 MiB
tmpfs, for a full disk. A gtest listing runs without servers."""

import argparse
import contextlib
import ctypes
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


def wait_listening(port, process):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and process.poll() is None:
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
    if not os.path.exists(stamp):
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
    sendfile on;
    root {docroot};
    server {{
        listen 127.0.0.1:{http};
        location ~ ^/rate/(?<rate>[0-9]+)/(?<name>.+)$ {{
            alias {docroot}/$name;
            limit_rate $rate;
        }}
    }}
    server {{
        listen 127.0.0.1:{https} ssl;
        ssl_certificate {pki}/trusted-server.pem;
        ssl_certificate_key {pki}/trusted-server.key;
        location ~ ^/redirect/(?<port>[0-9]+)/(?<name>.+)$ {{ return 302 https://127.0.0.1:$port/$name; }}
    }}
    server {{
        listen 127.0.0.1:{rogue} ssl;
        ssl_certificate {pki}/rogue-server.pem;
        ssl_certificate_key {pki}/rogue-server.key;
    }}
}}
"""


def start_nginx(work, docroot, pki):
    os.makedirs(os.path.join(work, "tmp"), exist_ok=True)
    conf, errors = os.path.join(work, "nginx.conf"), os.path.join(work, "nginx-error.log")
    for attempt in range(5):
        ports = {"http": free_port(), "https": free_port(), "rogue": free_port()}
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(work=work, docroot=docroot, pki=pki, **ports))
        # nginx goes when this driver goes, however it ends (PR_SET_PDEATHSIG).
        process = subprocess.Popen(["nginx", "-e", errors, "-p", work, "-c", conf], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL,
                                   preexec_fn=lambda: ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM))
        if all(wait_listening(p, process) for p in ports.values()):
            return process, ports
        process.kill()
        process.wait()
    raise RuntimeError("nginx did not start: " + open(errors).read())


class FaultHandler(http.server.BaseHTTPRequestHandler):
    """GET/HEAD /fault/<key>/<options>/<file>[?query] serves <docroot>/<file> as a static server
    does (Range "bytes=N-", Last-Modified from the file), changed by the comma-separated options:
      seq=<a>.<b>...  what the n-th request of <key> gets: "ok", an HTTP status, "drop<N>" (headers
                      of the whole answer, N body bytes, then the connection closes), "shift<N>"
                      (a ranged answer N bytes late) or "stall<ms>" ("ok" that much later); an item
                      ending in "*" repeats; after the list, "ok";
      nolm, nocl      no Last-Modified; no Content-Length (the body ends with the connection);
      norange         Range is ignored: the whole file with 200;
      date=<seconds>  the Date header that far from now.
    Each request is recorded in <fault log>/<key> as "<method> <status> range=<..> ius=<..>"."""

    protocol_version = "HTTP/1.1"
    date_offset = 0

    def date_time_string(self, timestamp=None):
        return super().date_time_string(time.time() + self.date_offset if timestamp is None else timestamp)

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def serve(self, head):
        parts = self.path.split("/")
        if len(parts) < 5 or parts[1] != "fault":
            return self.send_text(404, head)
        key, name = parts[2], "/".join(parts[4:]).partition("?")[0]
        options = dict(item.partition("=")[::2] for item in parts[3].split(",") if item)
        self.date_offset = int(options.get("date") or 0)
        log = os.path.join(self.server.log_folder, key)
        sequence = [a for a in options.get("seq", "").split(".") if a]
        with self.server.log_lock:
            index = len(open(log).readlines()) if os.path.exists(log) else 0
        repeat = sequence and sequence[-1].endswith("*")
        action = (sequence[index] if index < len(sequence) else sequence[-1] if repeat else "ok").rstrip("*")
        range_header, ius = self.headers.get("Range", ""), self.headers.get("If-Unmodified-Since", "")

        def record(status):
            with self.server.log_lock, open(log, "a") as f:
                f.write(f"{self.command} {status} range={range_header} ius={ius}\n")
            return status

        if action.startswith("stall"):
            time.sleep(int(action[5:]) / 1000)
        if action.isdigit():
            return self.send_text(record(int(action)), head)
        path = os.path.join(self.server.docroot, name)
        try:
            with open(path, "rb") as f:
                data = f.read()
            mtime = int(os.stat(path).st_mtime)
        except OSError:
            return self.send_text(record(404), head)
        status, body, content_range = 200, data, None
        if range_header.startswith("bytes=") and "norange" not in options:
            start = int(range_header[6:].rstrip("-")) + (int(action[5:]) if action.startswith("shift") else 0)
            status, body = 206, data[start:]
            content_range = f"bytes {start}-{len(data) - 1}/{len(data)}"
        self.send_response(record(status))
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
            self.wfile.write(body[:int(action[4:])])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        else:
            self.wfile.write(body)

    def send_text(self, status, head):
        body = f"fault {status}\n".encode()
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head:
            self.wfile.write(body)


class FaultServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    log_lock = threading.Lock()  # one for the plain and the TLS server, which share the records

    def __init__(self, docroot, log_folder):
        super().__init__(("127.0.0.1", 0), FaultHandler)
        self.docroot, self.log_folder = docroot, log_folder

    def handle_error(self, request, client_address):
        # A client that closes early (after a refusing status, or when killed) is expected.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def start_fault_server(stack, docroot, log_folder, tls=None):
    server = FaultServer(docroot, log_folder)
    if tls:
        server.socket = tls.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stack.callback(server.server_close)
    stack.callback(server.shutdown)
    return server.server_address[1]


def start_demo_backend(stack, script, folder):
    env = dict(os.environ, DEMO_BACKEND_DIR=folder)
    for attempt in range(5):
        port = free_port()
        if subprocess.call([script, "start", str(port)], env=env, stdout=subprocess.DEVNULL) == 0:
            stack.callback(subprocess.call, [script, "stop", str(port)], env=env, stdout=subprocess.DEVNULL)
            return port
    raise RuntimeError("the demo back end did not start")


def main():
    split = sys.argv.index("--") if "--" in sys.argv else len(sys.argv)
    command = sys.argv[split + 1:]
    parser = argparse.ArgumentParser()
    for option in ("--docroot", "--prefix", "--wine-run", "--trust-tool", "--demo-backend"):
        parser.add_argument(option)
    parser.add_argument("--work", required=True)
    args = parser.parse_args(sys.argv[1:split])
    if "--gtest_list_tests" in command:
        return subprocess.call(command)

    os.makedirs(args.work, exist_ok=True)
    work = tempfile.mkdtemp(prefix="run-", dir=args.work)
    pki = os.path.abspath(os.path.join(args.work, "pki"))
    docroot = os.path.abspath(args.docroot) if args.docroot else os.path.join(work, "docroot")
    fault_log, small = os.path.join(work, "fault"), os.path.join(work, "small")
    for folder in (docroot, fault_log, small):
        os.makedirs(folder, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with contextlib.ExitStack() as stack:
        stack.callback(shutil.rmtree, work, ignore_errors=True)
        env = dict(os.environ)
        if os.geteuid() == 0 and subprocess.call(["mount", "-t", "tmpfs", "-o", "size=1m", "vmdl-small", small],
                                                 stderr=subprocess.DEVNULL) == 0:
            stack.callback(subprocess.call, ["umount", small])
            env["VMDL_SMALL_DISK"] = windows_path(small)
        ensure_pki(pki)
        if args.prefix and args.wine_run and args.trust_tool:
            trust_in_prefix(pki, args.prefix, args.wine_run, args.trust_tool)
        nginx, ports = start_nginx(work, docroot, pki)
        stack.callback(nginx.wait)
        stack.callback(nginx.terminate)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(os.path.join(pki, "trusted-server.pem"), os.path.join(pki, "trusted-server.key"))
        env.update({
            "VMDL_HTTP_PORT": str(ports["http"]),
            "VMDL_HTTPS_PORT": str(ports["https"]),
            "VMDL_HTTPS_ROGUE_PORT": str(ports["rogue"]),
            "VMDL_FAULT_PORT": str(start_fault_server(stack, docroot, fault_log)),
            "VMDL_FAULT_TLS_PORT": str(start_fault_server(stack, docroot, fault_log, tls)),
            "VMDL_DOCROOT": windows_path(docroot),
            "VMDL_ACCESS_LOG": windows_path(os.path.join(work, "access.log")),
            "VMDL_SERVER_CERT": windows_path(os.path.join(pki, "trusted-server.der")),
            "VMDL_FAULT_LOG": windows_path(fault_log),
            "VMDL_DOCROOT_UNIX": docroot,
        })
        if args.demo_backend:
            env["VMDL_DEMO_PORT"] = str(start_demo_backend(stack, args.demo_backend, os.path.join(work, "demo")))
        return subprocess.call(command, env=env)


if __name__ == "__main__":
    sys.exit(main())
