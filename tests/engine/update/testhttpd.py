"""HTTP server for the connection tests: status pages, redirects, streams without a length, a
stalled answer, a dripping one (with "drip-posts" after the port: every POST answer drips), endless or overlong
headers, the client's port (to see connection reuse), the request headers and POST answers."""
import http.server
import sys
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def drip(self, first=b""):
        """An answer whose every byte comes in time and whose whole never does."""
        self.send_response(200)
        self.send_header("Content-Length", "100000")
        self.end_headers()
        try:
            self.wfile.write(first)
            while True:
                self.wfile.write(b"x")
                self.wfile.flush()
                time.sleep(0.1)
        except OSError:
            pass
        self.close_connection = True

    def do_GET(self):
        path = self.path
        if path.startswith("/status/"):
            code = int(path.split("/")[2])
            self.reply(code, b"" if code in (204, 304) else b"status %d page\n" % code)
        elif path == "/peer":
            self.reply(200, str(self.client_address[1]).encode())
        elif path == "/headers":
            self.reply(200, str(self.headers).encode())
        elif path.startswith("/redirect?to="):
            target = urllib.parse.unquote(path[len("/redirect?to="):])
            self.reply(302, b"", [("Location", target)])
        elif path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"first bytes")
            self.wfile.flush()
            time.sleep(10)
            self.close_connection = True
        elif path == "/drip":
            self.drip()
        elif path in ("/endless-headers", "/long-header"):
            self.send_response(200)
            try:
                if path == "/long-header":
                    self.send_header("X-Long", "y" * 80000)
                    self.end_headers()
                else:
                    while True:
                        self.send_header("X-Pad", "y" * 100)
                        self.flush_headers()
            except OSError:
                pass
            self.close_connection = True
        elif path.startswith("/stream/"):
            left = int(path.split("/")[2])
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            block = b"x" * 65536
            while left > 0:
                n = min(left, len(block))
                try:
                    self.wfile.write(block[:n])
                except OSError:
                    break
                left -= n
            self.close_connection = True
        else:
            self.reply(404, b"not here\n")

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if "drip-posts" in sys.argv[2:]:
            self.drip(b"fxp/1.1 200 OK\r\n")
            return
        self.reply(200, b"answer to " + body)


http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
