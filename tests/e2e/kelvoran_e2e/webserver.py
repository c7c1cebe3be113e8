"""A loopback HTTP server for download tests.

Serves the files of one directory like `python3 -m http.server --bind 127.0.0.1`
and in addition
  * records every request line (path with query string), in memory and, when
    asked, appended to a file that a program under Wine can read;
  * can serve chosen paths slowly ("trickled"), so that a download is still
    running while a test does something else;
  * can make chosen paths fail: answer with an error status, or send part of
    the body and then close the connection ("cut short").
"""

import functools
import http.server
import os
import threading
import time


class TrickledFile:
    """A body sent in `chunks` pieces, `delay` seconds apart."""

    def __init__(self, body, chunks, delay):
        self.body = body
        self.chunks = chunks
        self.delay = delay
        self.started = threading.Event()     # the request has arrived
        self.last_chunk = threading.Event()  # set just before the final piece goes out
        self.finished = threading.Event()


class _Handler(http.server.SimpleHTTPRequestHandler):
    # Set per server class by FileServer.
    owner = None

    def do_GET(self):
        self.owner._record(self.requestline)
        fault = self.owner.faults.get(self.path.split("?", 1)[0])
        if fault is not None:
            fault(self)
            return
        trickled = self.owner.trickled.get(self.path.split("?", 1)[0])
        if trickled is None:
            super().do_GET()
            return
        trickled.started.set()
        try:
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(trickled.body)))
            self.end_headers()
            size = -(-len(trickled.body) // trickled.chunks)
            offsets = range(0, len(trickled.body), size)
            for offset in offsets:
                if offset == offsets[-1]:
                    trickled.last_chunk.set()
                else:
                    time.sleep(trickled.delay)
                self.wfile.write(trickled.body[offset:offset + size])
                self.wfile.flush()
        finally:
            trickled.finished.set()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass


class FileServer:
    """Serves `root` on 127.0.0.1 at a port the system picks."""

    def __init__(self, root, request_log=None):
        self.root = root
        self.request_log = request_log
        self.requests = []
        self.trickled = {}
        self.faults = {}
        self._lock = threading.Lock()
        handler = type("Handler", (_Handler,), {"owner": self})
        self._server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(handler, directory=root))
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.1}, daemon=True)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self._thread.start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=30)

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def serve(self, name, body):
        """Puts `body` (bytes) into the served directory as `name`."""
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(body)

    def trickle(self, name, body, chunks=40, delay=0.25):
        trickled = TrickledFile(body, chunks, delay)
        self.trickled["/" + name] = trickled
        return trickled

    def fail_with(self, name, status):
        """Answers requests for `name` with `status` and a short error page."""
        def answer(handler):
            page = b"failed on purpose\n"
            handler.send_response(status)
            handler.send_header("Content-Type", "text/plain")
            handler.send_header("Content-Length", str(len(page)))
            handler.end_headers()
            handler.wfile.write(page)
        self.faults["/" + name] = answer

    def cut_short(self, name, body, keep):
        """Announces all of `body` for `name`, sends its first `keep` bytes, then closes."""
        def answer(handler):
            handler.send_response(200)
            handler.send_header("Content-Type", "application/octet-stream")
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            handler.wfile.write(body[:keep])
            handler.wfile.flush()
            handler.close_connection = True
        self.faults["/" + name] = answer

    def heal(self, name):
        """Serves `name` from the directory again, as any other file."""
        self.faults.pop("/" + name, None)

    def requested(self, fragment):
        with self._lock:
            return [line for line in self.requests if fragment in line]

    def _record(self, line):
        with self._lock:
            self.requests.append(line)
            if self.request_log:
                with open(self.request_log, "a", encoding="utf-8") as f:
                    f.write(line + "\n")
