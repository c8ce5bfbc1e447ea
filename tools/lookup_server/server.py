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

    def as_dict(self):
        return dict(self.__dict__)


class Answerer:
    """Turns one request into its answer and notes the sightings."""

    def __init__(self, store, zero_word=False):
        self.store = store
        self.zero_word = zero_word
        self.counters = Counters()

    def answer(self, request, address):
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
        self.transport.sendto(self.answerer.answer(request, address[0]), address)

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
            answers.append(self.answerer.answer(request, self.address))
        if answers:
            self.transport.write(b"".join(answers))


async def serve(store, host, udp_port, tcp_ports, zero_word=False, flush_seconds=1.0, ready=None, stop=None):
    """Runs until `stop` (an asyncio.Event) is set; `ready(ports)` is called once listening with
    the bound ports (udp, [tcp...]), which tell the real numbers when 0 was asked for."""
    loop = asyncio.get_running_loop()
    answerer = Answerer(store, zero_word)
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
        for s in servers:
            s.close()
        store.flush()
        for name, value in answerer.counters.as_dict().items():
            total = int(store.get_meta("served_" + name, "0")) + value
            store.set_meta("served_" + name, total)
    return answerer.counters
