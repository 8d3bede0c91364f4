#!/usr/bin/env python3
"""HTTPS server that plays every vendor host for the GPU Clean tests.

Usage: vendor_server.py FOLDER
Makes a test CA and a localhost certificate in FOLDER (ca.pem, server.pem, server.key), serves on
127.0.0.1 at a free port and writes that port to FOLDER/port once it listens. Answers:
  /bytes/N            N bytes of a fixed pattern, with Content-Length
  /mz/N               N bytes starting with "MZ"
  /nolength/N         N bytes, no Content-Length, the connection closed at the end
  /short/N            Content-Length N but only N-1 bytes
  /gzip/N             N pattern bytes, gzip-encoded when the client accepts gzip
  /slow/N             N bytes in 64 KiB pieces, 50 ms apart
  /status/CODE        that status
  /redirect?to=URL    302 to URL
  /files/NAME         FOLDER/files/NAME as stored (packages and installers the tests place there)
  /nvidia_web_services/...  FOLDER/files/nvidia-answer.json
  /api/v2/package/amd-software-adrenalin-edition  FOLDER/files/amd-index.nupkg
  /a/7z2600-x64.exe   FOLDER/files/7z-installer.exe
  /GameTechDev/PresentMon/releases/download/v2.3.1/PresentMon-2.3.1-x64.exe
                      302 to /release-assets/... (with a signed query, as the code host sends its
                      asset storage), which serves FOLDER/files/presentmon-release.exe
  /quorvantis/latest.json   FOLDER/files/latest.json; /Quorvantis*.exe   FOLDER/files/<that name>
  /Quorvantis-redirect.exe  302 to the same release by IP address (a host no table allows)
  POST /api/quorvantis/downloads   counted in FOLDER/counted.log
Every request is appended to FOLDER/requests.log as "METHOD PATH".
"""
import gzip
import http.server
import os
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

FOLDER = os.path.abspath(sys.argv[1])
PATTERN = bytes(range(256)) * 4096  # 1 MiB; every offset's byte is its low 8 bits


def make_certificates():
    ca_key, ca_pem = os.path.join(FOLDER, "ca.key"), os.path.join(FOLDER, "ca.pem")
    key, pem = os.path.join(FOLDER, "server.key"), os.path.join(FOLDER, "server.pem")
    if os.path.exists(pem):
        return pem, key
    run = lambda *args: subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem, "-days", "3650",
        "-subj", "/CN=Quorvantis Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    csr = os.path.join(FOLDER, "server.csr")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    ext = os.path.join(FOLDER, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n"
                "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial", "-out", pem,
        "-days", "3650", "-extfile", ext)
    return pem, key


def pattern(n, mz=False):
    out = bytearray()
    while len(out) < n:
        out += PATTERN[: n - len(out)]
    if mz and n >= 2:
        out[0:2] = b"MZ"
    return bytes(out)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self):
        with open(os.path.join(FOLDER, "requests.log"), "a") as f:
            f.write("%s %s\n" % (self.command, self.path))

    def send_body(self, body, length=True, close=False, head=False):
        self.send_response(200)
        if length:
            self.send_header("Content-Length", str(len(body)))
        if close or not length:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if head:
            return
        view = memoryview(body)
        for at in range(0, len(body), 1 << 20):
            self.wfile.write(view[at:at + (1 << 20)])

    def stream_pattern(self, n, head):
        """Large bodies straight from the 1 MiB block, never held whole."""
        self.send_response(200)
        self.send_header("Content-Length", str(n))
        self.end_headers()
        if head:
            return
        view = memoryview(PATTERN)
        while n > 0:
            piece = min(n, len(PATTERN))
            self.wfile.write(view[:piece])
            n -= piece

    def send_file(self, name, head):
        path = os.path.join(FOLDER, "files", name)
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if head:
            return
        with open(path, "rb") as f:
            while True:
                chunk = f.read(1 << 20)
                if not chunk:
                    break
                self.wfile.write(chunk)

    def do_HEAD(self):
        self.answer(head=True)

    def do_GET(self):
        self.answer(head=False)

    def do_POST(self):
        """The publisher's download counter: any JSON body is counted."""
        self.record()
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        with open(os.path.join(FOLDER, "counted.log"), "ab") as f:
            f.write(body + b"\n")
        self.send_response(200 if self.path == "/api/quorvantis/downloads" else 404)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def answer(self, head):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.strip("/").split("/")
        kind = parts[0] if parts else ""
        number = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        try:
            if kind == "bytes":
                self.stream_pattern(number, head)
            elif kind == "mz":
                self.send_body(pattern(number, mz=True), head=head)
            elif kind == "nolength":
                self.send_body(pattern(number), length=False, head=head)
            elif kind == "short":
                self.send_response(200)
                self.send_header("Content-Length", str(number))
                self.send_header("Connection", "close")
                self.close_connection = True
                self.end_headers()
                if not head:
                    self.wfile.write(pattern(number - 1))
            elif kind == "gzip" and "gzip" not in self.headers.get("Accept-Encoding", ""):
                self.send_body(pattern(number), head=head)  # as real servers do for clients that cannot unpack
            elif kind == "gzip":
                body = gzip.compress(pattern(number))
                self.send_response(200)
                self.send_header("Content-Encoding", "gzip")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if not head:
                    self.wfile.write(body)
            elif kind == "slow":
                self.send_response(200)
                self.send_header("Content-Length", str(number))
                self.end_headers()
                sent = 0
                while sent < number and not head:
                    piece = min(65536, number - sent)
                    self.wfile.write(pattern(piece))
                    self.wfile.flush()
                    sent += piece
                    time.sleep(0.05)
            elif kind == "status":
                self.send_response(number)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif kind == "redirect":
                target = urllib.parse.parse_qs(url.query).get("to", [""])[0]
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif kind == "files":
                self.send_file(parts[1] if len(parts) > 1 else "", head)
            elif kind == "nvidia_web_services":
                self.send_file("nvidia-answer.json", head)
            elif url.path == "/api/v2/package/amd-software-adrenalin-edition":
                self.send_file("amd-index.nupkg", head)
            elif url.path == "/a/7z2600-x64.exe":
                self.send_file("7z-installer.exe", head)
            elif url.path == "/GameTechDev/PresentMon/releases/download/v2.3.1/PresentMon-2.3.1-x64.exe":
                port = self.server.server_address[1]
                self.send_response(302)
                self.send_header("Location", "https://localhost:%d/release-assets/github-production-release-asset/53137313/"
                                 "3f1c4b1e?sp=r&sv=2018-11-09&sr=b&spr=https&rscd=attachment%%3B+filename%%3D"
                                 "PresentMon-2.3.1-x64.exe&rsct=application%%2Foctet-stream&sig=c2lnbmF0dXJl" % port)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif url.path.startswith("/release-assets/github-production-release-asset/"):
                self.send_file("presentmon-release.exe", head)
            elif url.path == "/quorvantis/latest.json":
                self.send_file("latest.json", head)
            elif url.path == "/Quorvantis-redirect.exe":
                port = self.server.server_address[1]
                self.send_response(302)
                self.send_header("Location", "https://127.0.0.1:%d/Quorvantis-2.7.0.exe" % port)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif url.path.lower().startswith("/quorvantis") and url.path.lower().endswith(".exe") and "/" not in url.path[1:]:
                self.send_file(url.path[1:], head)
            else:
                self.send_error(404)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    os.makedirs(os.path.join(FOLDER, "files"), exist_ok=True)
    pem, key = make_certificates()
    server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(os.path.join(FOLDER, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(os.path.join(FOLDER, "port.tmp"), os.path.join(FOLDER, "port"))
    with open(os.path.join(FOLDER, "pid"), "w") as f:
        f.write(str(os.getpid()))
    server.serve_forever()


if __name__ == "__main__":
    main()
