"""A small client of headless Chromium's DevTools protocol over a websocket, standard library only:
enough to open a page, type, click and read values back, and to see every request the page made."""
import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.request

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9"]


class Browser:
    def __init__(self, chromium, timeout=120):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="vantorag-chromium-")
        self.process = subprocess.Popen(
            [chromium] + FLAGS + ["--user-data-dir=" + self.profile, "--remote-debugging-port=0",
                                  "--window-size=1200,900", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.sock = None
        self.events = []
        self.next_id = 0
        try:
            port = self._port()
            opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
            deadline = time.monotonic() + timeout
            while True:
                targets = json.load(opener.open("http://127.0.0.1:%d/json/list" % port, timeout=timeout))
                pages = [t for t in targets if t.get("type") == "page"]
                if pages or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            self._connect(port, pages[0]["webSocketDebuggerUrl"])
        except BaseException:
            self.close()
            raise

    def _port(self):
        deadline = time.monotonic() + self.timeout
        line = b""
        while time.monotonic() < deadline:
            line = self.process.stderr.readline()
            if not line and self.process.poll() is not None:
                break
            found = re.search(rb"DevTools listening on ws://127\.0\.0\.1:(\d+)/", line)
            if found:
                return int(found.group(1))
        raise AssertionError("chromium did not start its DevTools server: %r" % line)

    def _connect(self, port, url):
        path = url.split("/", 3)[3]
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=self.timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET /%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                           % (path, port, key)).encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise AssertionError("DevTools closed the connection: %r" % answer)
            answer += chunk
        if not answer.startswith(b"HTTP/1.1 101"):
            raise AssertionError("no websocket: %r" % answer)
        self.buffer = answer.split(b"\r\n\r\n", 1)[1]

    def _read(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise AssertionError("DevTools closed the connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def _send(self, message):
        payload = json.dumps(message).encode()
        mask = os.urandom(4)
        size = len(payload)
        header = b"\x81" + (bytes([0x80 | size]) if size < 126 else
                            struct.pack("!BH", 0x80 | 126, size) if size < 65536 else
                            struct.pack("!BQ", 0x80 | 127, size))
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def _receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack("!H", self._read(2))[0]
            elif size == 127:
                size = struct.unpack("!Q", self._read(8))[0]
            message += self._read(size)
            if first & 0x80:
                return json.loads(message)

    def call(self, method, **params):
        self.next_id += 1
        self._send({"id": self.next_id, "method": method, "params": params})
        while True:
            message = self._receive()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise AssertionError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        deadline = time.monotonic() + self.timeout
        while self.evaluate("document.readyState + ' ' + location.href") != "complete " + url:
            if time.monotonic() > deadline:
                raise AssertionError("page did not load: " + url)
            time.sleep(0.1)

    def click(self, selector):
        x, y = self.evaluate("(() => { const e = document.querySelector(%s); e.scrollIntoView({block: 'center'});"
                             " const r = e.getBoundingClientRect();"
                             " return [r.x + r.width / 2, r.y + r.height / 2]; })()" % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def type_into(self, selector, text):
        self.evaluate("document.querySelector(%s).focus()" % json.dumps(selector))
        self.call("Input.insertText", text=text)

    def close(self):
        if self.sock:
            self.sock.close()
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        shutil.rmtree(self.profile, ignore_errors=True)
