"""A small WebSocket/HTTP client for the bridge's tests, on the standard library alone.

It speaks just enough of RFC 6455 to play a page (masked client frames, ping answers, close),
and sends handshakes exactly as given, so that the tests can also send what no browser would.
"""

import base64
import json
import os
import re
import socket
import struct
import subprocess
import threading
import time

BRIDGE = os.environ.get("ZEL_BRIDGE", "zeltablet-bridge")
# A program that runs the bridge (Wine, for a Windows build), split at spaces.
LAUNCHER = os.environ.get("ZEL_BRIDGE_LAUNCHER", "").split()


class Refused(Exception):
    def __init__(self, status, body):
        super().__init__(f"handshake refused: {status} {body!r}")
        self.status = status
        self.body = body


def http_request(port, lines, host="127.0.0.1", family=socket.AF_INET, body=b""):
    """Sends one raw HTTP request (header lines without the final blank line); returns
    (status, headers dict with lower-case names, body)."""
    with socket.create_connection((host, port), timeout=10) as conn:
        conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode() + body)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                break
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        status_line, *header_lines = head.decode("latin-1").split("\r\n")
        status = int(status_line.split()[1]) if status_line else 0
        headers = {}
        for line in header_lines:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        while len(rest) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            rest += chunk
        return status, headers, rest


class Page:
    """One page's WebSocket to /pad."""

    def __init__(self, port, origin="default", host=None, path="/pad", timeout=10,
                 extra_headers=()):
        self.port = port
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        lines = [f"GET {path} HTTP/1.1",
                 f"Host: {host if host is not None else f'127.0.0.1:{port}'}",
                 "Upgrade: websocket", "Connection: Upgrade",
                 f"Sec-WebSocket-Key: {key}", "Sec-WebSocket-Version: 13"]
        if origin == "default":
            origin = f"http://127.0.0.1:{port}"
        if origin is not None:
            lines.append(f"Origin: {origin}")
        lines.extend(extra_headers)
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise Refused(0, data)
            data += chunk
        head, _, self.pending = data.partition(b"\r\n\r\n")
        status = int(head.split(b" ")[1])
        if status != 101:
            body = self.pending
            self.sock.close()
            raise Refused(status, body)
        self.lock = threading.Lock()
        _open_pages.append(self)
        self.events = []
        self.closed = None  # (code, reason) once the bridge closed

    # ---- frames ----
    def _send_frame(self, opcode, payload, fin=True):
        header = bytes([(0x80 if fin else 0) | opcode])
        n = len(payload)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload)) if n < 4096 else \
            _mask_fast(payload, mask)
        with self.lock:
            self.sock.sendall(header + mask + masked)

    def send_text(self, text):
        self._send_frame(0x1, text.encode() if isinstance(text, str) else text)

    def send_binary(self, data):
        self._send_frame(0x2, data)

    def send(self, message):
        self.send_text(json.dumps(message))

    def _read_exact(self, n):
        while len(self.pending) < n:
            chunk = self.sock.recv(max(65536, n - len(self.pending)))
            if not chunk:
                raise ConnectionError("connection closed by the bridge")
            self.pending += chunk
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def recv_frame(self):
        """The next data frame as (opcode, payload); answers pings; raises on close."""
        message, opcode = b"", None
        while True:
            b0, b1 = self._read_exact(2)
            op, n = b0 & 0x0F, b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read_exact(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read_exact(8))[0]
            payload = self._read_exact(n)
            if op == 0x9:
                self._send_frame(0xA, payload)
                continue
            if op == 0xA:
                continue
            if op == 0x8:
                code = struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None
                self.closed = (code, payload[2:])
                raise ConnectionError(f"closed by the bridge with {code}")
            if op != 0:
                opcode = op
            message += payload
            if b0 & 0x80:
                return opcode, message

    def recv(self):
        """The next text message, parsed."""
        opcode, payload = self.recv_frame()
        if opcode != 0x1:
            raise AssertionError(f"expected a text frame, got opcode {opcode}")
        return json.loads(payload)

    def recv_binary(self):
        opcode, payload = self.recv_frame()
        if opcode != 0x2:
            raise AssertionError(f"expected a binary frame, got {payload[:200]!r}")
        return payload

    def request(self, message):
        """Sends a request and returns its reply, keeping events that come first in
        self.events."""
        self.send(message)
        while True:
            reply = self.recv()
            if reply.get("type") in ("result", "error"):
                return reply
            self.events.append(reply)



    def close(self):
        try:
            self._send_frame(0x8, struct.pack(">H", 1000))
        except OSError:
            pass
        self.sock.close()

    def drop(self):
        """Goes away without a close frame, as a crashed tab's connection does."""
        self.sock.close()


_open_pages = []


def close_pages():
    while _open_pages:
        _open_pages.pop().sock.close()


def _mask_fast(payload, mask):
    n = len(payload)
    key = int.from_bytes((mask * (n // 4 + 1))[:n], "big")
    return (int.from_bytes(payload, "big") ^ key).to_bytes(n, "big")


class Bridge:
    """A bridge process on a free port with --simulate --verbose; its log is kept."""

    def __init__(self, *args, simulate=True):
        command = LAUNCHER + [BRIDGE, "--port", "0", "--verbose", "--no-config"]
        if simulate:
            command.append("--simulate")
        command.extend(args)
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        self.log_lines = []
        self._log_lock = threading.Lock()
        self.port = None
        started = threading.Event()

        def read_log():
            for line in self.process.stderr:
                with self._log_lock:
                    self.log_lines.append(line.rstrip("\n"))
                match = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", line)
                if match:
                    self.port = int(match.group(1))
                    started.set()
            started.set()

        self._reader = threading.Thread(target=read_log, daemon=True)
        self._reader.start()
        if not started.wait(30) or self.port is None:
            self.stop()
            raise RuntimeError("the bridge did not start:\n" + "\n".join(self.log_lines))

    def log(self):
        with self._log_lock:
            return list(self.log_lines)

    def pad_commands(self):
        return [line for line in self.log() if "pad command:" in line]

    def wait_for_log(self, pattern, timeout=5):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(re.search(pattern, line) for line in self.log()):
                return True
            time.sleep(0.02)
        return False

    def stop(self):
        if self.process.stdout.closed:
            return self.process.returncode
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._reader.join(5)
        close_pages()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()
        return self.process.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
