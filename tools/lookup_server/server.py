"""The lookup server: answers the lookup protocol on UDP and TCP from a store, many clients at
once, and counts what it answers and what it drops. Bad traffic never stops it: a bad datagram
is dropped, a connection that sends a bad request is closed."""
import asyncio

import protocol


class Counters:
    def __init__(self):
        self.requests = 0
        self.keys = 0
        self.dropped_datagrams = 0
        self.closed_connections = 0
        self.connections = 0
        self.list_downloads = 0

    def as_dict(self):
        return dict(self.__dict__)


class RequestLog:
    """One line per request as it is answered, flushed at once so that a reader sees every request
    answered so far: "hash udp KEY..." or "vendor tcp KEY..." (keys in upper-case hex, in request
    order), and "http GET /path 200" for the HTTP port."""

    KINDS = {protocol.HASH: "hash", protocol.VENDOR: "vendor"}

    def __init__(self, path):
        self.file = open(path, "a", encoding="latin-1", buffering=1)

    def lookup(self, channel, request):
        self._line([self.KINDS[request.type], channel] + [key.hex().upper() for key in request.keys])

    def http(self, method, path, status):
        self._line(["http", method, path, status])

    def _line(self, fields):
        # A path could hold a line break; the log stays one request a line.
        self.file.write(" ".join(fields).replace("\r", "%0D").replace("\n", "%0A") + "\n")

    def close(self):
        self.file.close()


class Answerer:
    """Turns one request into its answer and notes the sightings."""

    def __init__(self, store, zero_word=False, request_log=None):
        self.store = store
        self.zero_word = zero_word
        self.counters = Counters()
        self.request_log = request_log

    def answer(self, request, address, channel):
        if self.request_log:
            self.request_log.lookup(channel, request)
        self.counters.requests += 1
        self.counters.keys += len(request.keys)
        self.store.sight(request.type, request.keys, address)
        if request.type == protocol.HASH:
            return protocol.encode_hash_answer(request.sequence, self.store.hash_verdicts(request.keys),
                                               self.zero_word)
        return protocol.encode_vendor_answer(request.sequence, self.store.vendor_verdicts(request.keys),
                                             self.zero_word)


class UdpServer(asyncio.DatagramProtocol):
    def __init__(self, answerer):
        self.answerer = answerer
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, address):
        try:
            request = protocol.parse_request(data)
        except protocol.BadRequest:
            self.answerer.counters.dropped_datagrams += 1
            return
        self.transport.sendto(self.answerer.answer(request, address[0], "udp"), address)

    def error_received(self, exc):
        pass  # an unreachable client's ICMP error: nothing to do


class TcpConnection(asyncio.Protocol):
    """Requests back to back; the buffer never holds more than one partial request."""

    def __init__(self, answerer):
        self.answerer = answerer
        self.buffer = bytearray()
        self.transport = None
        self.address = "?"

    def connection_made(self, transport):
        self.transport = transport
        peer = transport.get_extra_info("peername")
        self.address = peer[0] if peer else "?"
        self.answerer.counters.connections += 1

    def data_received(self, data):
        self.buffer += data
        answers = []
        while len(self.buffer) >= 6:
            try:
                size = protocol.request_size(self.buffer)
                if len(self.buffer) < size:
                    break
                request = protocol.parse_request(bytes(self.buffer[:size]))
            except protocol.BadRequest:
                self.answerer.counters.closed_connections += 1
                self.buffer.clear()
                if answers:
                    self.transport.write(b"".join(answers))
                self.transport.close()
                return
            del self.buffer[:size]
            answers.append(self.answerer.answer(request, self.address, "tcp"))
        if answers:
            self.transport.write(b"".join(answers))


WITHDRAWN_LIST_PATHS = ("/av/tvl/deletedvendors.txt", "av/tvl/deletedvendors.txt")
MAX_REQUEST_HEAD = 16384


def withdrawn_list_body(store):
    """The removed-vendor list as a scanner downloads it: UTF-8, one name a line, CR LF."""
    return "".join(name + "\r\n" for name in store.withdrawn_vendors()).encode("utf-8")


class HttpConnection(asyncio.Protocol):
    """One GET per connection: the withdrawn-vendor list, 404 for any other path."""

    def __init__(self, store, counters, request_log=None):
        self.store = store
        self.counters = counters
        self.request_log = request_log
        self.buffer = bytearray()
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def data_received(self, data):
        self.buffer += data
        end = self.buffer.find(b"\r\n\r\n")
        if end < 0:
            if len(self.buffer) > MAX_REQUEST_HEAD:
                self.reply("431 Request Header Fields Too Large", b"")
            return
        parts = bytes(self.buffer[:end]).split(b"\r\n", 1)[0].split(b" ")
        if len(parts) != 3 or not parts[2].startswith(b"HTTP/"):
            self.reply("400 Bad Request", b"")
            return
        method, path = parts[0].decode("latin-1"), parts[1].decode("latin-1")
        if method not in ("GET", "HEAD"):
            status, body = "405 Method Not Allowed", b""
        elif path.split("?", 1)[0] in WITHDRAWN_LIST_PATHS:
            self.counters.list_downloads += 1
            status, body = "200 OK", withdrawn_list_body(self.store)
        else:
            status, body = "404 Not Found", b""
        if self.request_log:
            self.request_log.http(method, path, status.split(" ", 1)[0])
        self.reply(status, body, head_only=method == "HEAD")

    def reply(self, status, body, head_only=False):
        head = ("HTTP/1.1 %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %d\r\n"
                "Connection: close\r\n\r\n" % (status, len(body))).encode("ascii")
        self.transport.write(head if head_only else head + body)
        self.transport.close()
        self.buffer.clear()


async def serve(store, host, udp_port, tcp_ports, zero_word=False, flush_seconds=1.0, ready=None, stop=None,
                http_port=None, http_ready=None, request_log=None):
    """Runs until `stop` (an asyncio.Event) is set; `ready(ports)` is called once listening with
    the bound ports (udp, [tcp...]), which tell the real numbers when 0 was asked for. With an
    `http_port` the withdrawn-vendor list is served over HTTP too; `http_ready(port)` tells the
    bound port. A `request_log` (RequestLog) gets every request answered."""
    loop = asyncio.get_running_loop()
    answerer = Answerer(store, zero_word, request_log)
    http_server = None
    if http_port is not None:
        http_server = await loop.create_server(lambda: HttpConnection(store, answerer.counters, request_log), host,
                                               http_port, reuse_address=True)
        if http_ready:
            http_ready(http_server.sockets[0].getsockname()[1])
    udp_transport, _ = await loop.create_datagram_endpoint(lambda: UdpServer(answerer), local_addr=(host, udp_port))
    servers = []
    for port in tcp_ports:
        servers.append(await loop.create_server(lambda: TcpConnection(answerer), host, port, reuse_address=True))
    bound = (udp_transport.get_extra_info("sockname")[1], [s.sockets[0].getsockname()[1] for s in servers])
    if ready:
        ready(bound)
    stop = stop or asyncio.Event()
    try:
        while not stop.is_set():
            try:
                await asyncio.wait_for(stop.wait(), flush_seconds)
            except asyncio.TimeoutError:
                pass
            store.flush()
    finally:
        udp_transport.close()
        if http_server:
            http_server.close()
        for s in servers:
            s.close()
        store.flush()
        for name, value in answerer.counters.as_dict().items():
            total = int(store.get_meta("served_" + name, "0")) + value
            store.set_meta("served_" + name, total)
    return answerer.counters
