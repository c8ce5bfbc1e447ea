"""The server on real sockets: answers on UDP and TCP, messages back to back, many clients at
once, and hostile traffic that is dropped or closed without stopping it."""
import socket
import threading

import protocol
import server
import store as store_module

KNOWN = bytes.fromhex("A" * 40)
OTHER = bytes(20)


def udp_ask(port, data, timeout=5):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(timeout)
        s.sendto(data, ("127.0.0.1", port))
        return s.recvfrom(4096)[0]


def recv_exactly(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed after %d of %d bytes" % (len(data), n))
        data += chunk
    return data


def test_udp_and_tcp_answers(store, running):
    store.put_hashes([(KNOWN, 2, 5, 9, 1644972474368)], "t")
    store.put_vendors([("Signer", 1)])
    srv = running()
    answer = udp_ask(srv.udp_port, protocol.encode_request(protocol.HASH, 11, [KNOWN, OTHER]))
    assert protocol.decode_answer(protocol.HASH, answer) == (11, [(2, 5, 9, 1644972474368), (0, 0, 0, 0)])

    vendor = protocol.encode_request(protocol.VENDOR, 12, [store_module.vendor_key("Signer"), OTHER])
    for port in srv.tcp_ports:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            # Two requests in one write, then one split over two writes.
            s.sendall(protocol.encode_request(protocol.HASH, 13, [KNOWN]) + vendor)
            assert protocol.decode_answer(protocol.HASH, recv_exactly(s, 19)) == (13, [(2, 5, 9, 1644972474368)])
            assert protocol.decode_answer(protocol.VENDOR, recv_exactly(s, 7)) == (12, [1, 0])
            request = protocol.encode_request(protocol.HASH, 14, [OTHER] * 100)
            s.sendall(request[:1000])
            s.sendall(request[1000:])
            assert len(recv_exactly(s, 1405)) == 1405
    counters = srv.stop()
    assert counters.requests == 1 + 3 * len(srv.tcp_ports)
    assert store.sighting(2, KNOWN)[2] == 1 + len(srv.tcp_ports)


def test_zero_word_answers(store, running):
    srv = running(zero_word=True)
    answer = udp_ask(srv.udp_port, protocol.encode_request(protocol.HASH, 3, [OTHER]))
    assert answer[:4] == b"\0\0\0\0" and protocol.decode_answer(protocol.HASH, answer[4:])[0] == 3


def test_hostile_datagrams_are_dropped_and_counted(store, running):
    srv = running()
    good = protocol.encode_request(protocol.HASH, 1, [OTHER])
    hostile = [b"", b"\x02\x01", good[:-1], protocol.encode_request(protocol.HASH, 1, [OTHER] * 101),
               b"\x09" + good[1:], bytes(range(256)) * 8]
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        for data in hostile:
            s.sendto(data, ("127.0.0.1", srv.udp_port))
    # Still answering after all of them.
    assert protocol.decode_answer(protocol.HASH, udp_ask(srv.udp_port, good))[0] == 1
    assert srv.stop().dropped_datagrams == len(hostile)


def test_tcp_garbage_closes_only_that_connection(store, running):
    srv = running()
    port = srv.tcp_ports[0]
    with socket.create_connection(("127.0.0.1", port), timeout=5) as bad, \
            socket.create_connection(("127.0.0.1", port), timeout=5) as good:
        # A valid request, then garbage: the answer comes, then the close.
        bad.sendall(protocol.encode_request(protocol.HASH, 5, [OTHER]) + b"\x07" * 40)
        assert protocol.decode_answer(protocol.HASH, recv_exactly(bad, 19))[0] == 5
        assert bad.recv(100) == b""
        good.sendall(protocol.encode_request(protocol.HASH, 6, [OTHER]))
        assert protocol.decode_answer(protocol.HASH, recv_exactly(good, 19))[0] == 6
    assert srv.stop().closed_connections == 1


def test_many_clients_at_once(store, running):
    store.put_hashes([(KNOWN, 1, 0, 0, 0)], "t")
    srv = running()
    errors = []

    def client(n):
        try:
            with socket.create_connection(("127.0.0.1", srv.tcp_ports[n % 2]), timeout=10) as s:
                for i in range(20):
                    s.sendall(protocol.encode_request(protocol.HASH, n * 100 + i, [KNOWN] * 50))
                    sequence, entries = protocol.decode_answer(protocol.HASH, recv_exactly(s, 5 + 50 * 14))
                    assert sequence == n * 100 + i and entries[0][0] == 1
        except Exception as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=client, args=(n,)) for n in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert errors == []
    assert srv.stop().keys == 16 * 20 * 50


def _http(port, request):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(request)
        reply = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return reply
            reply += chunk


def test_withdrawn_vendor_list_over_http(store, running):
    store.put_vendors([("Zeta Soft", 2), ("Trusted Inc", 1), ("\u00c4lpha GmbH", 2)])
    srv = running()
    body = "Zeta Soft\r\n\u00c4lpha GmbH\r\n".encode("utf-8")  # in byte order
    cases = [
        # The path with and without its leading slash, and with a query.
        (b"GET /av/tvl/deletedvendors.txt HTTP/1.1\r\nHost: x\r\n\r\n", b"200 OK", body),
        (b"GET av/tvl/deletedvendors.txt HTTP/1.1\r\n\r\n", b"200 OK", body),
        (b"GET /av/tvl/deletedvendors.txt?x=1 HTTP/1.0\r\n\r\n", b"200 OK", body),
        (b"HEAD /av/tvl/deletedvendors.txt HTTP/1.1\r\n\r\n", b"200 OK", b""),
        (b"GET /av/tvl/other.txt HTTP/1.1\r\n\r\n", b"404 Not Found", b""),
        (b"POST /av/tvl/deletedvendors.txt HTTP/1.1\r\n\r\n", b"405 Method Not Allowed", b""),
        (b"nonsense\r\n\r\n", b"400 Bad Request", b""),
    ]
    for request, status, expected in cases:
        reply = _http(srv.http_port, request)
        head, _, got = reply.partition(b"\r\n\r\n")
        assert head.startswith(b"HTTP/1.1 " + status), request
        assert got == expected, request
        length = body if request.startswith(b"HEAD") else expected
        assert b"Content-Length: %d" % len(length) in head, request
    assert srv.stop().list_downloads == 4


def test_http_request_head_too_large_is_refused(store, running):
    srv = running()
    reply = _http(srv.http_port, b"GET /" + b"a" * 20000)
    assert reply.startswith(b"HTTP/1.1 431"), reply[:40]
    srv.stop()


def test_request_log_has_one_line_per_request_in_order(store, running, tmp_path):
    log = server.RequestLog(str(tmp_path / "requests.log"))
    srv = running(request_log=log)
    vendor = store_module.vendor_key("Signer")
    udp_ask(srv.udp_port, protocol.encode_request(protocol.VENDOR, 1, [vendor]))
    udp_ask(srv.udp_port, protocol.encode_request(protocol.HASH, 2, [KNOWN, OTHER]))
    with socket.create_connection(("127.0.0.1", srv.tcp_ports[0]), timeout=5) as s:
        s.sendall(protocol.encode_request(protocol.HASH, 3, [OTHER]))
        recv_exactly(s, 19)
    _http(srv.http_port, b"GET /av/tvl/deletedvendors.txt HTTP/1.1\r\n\r\n")
    _http(srv.http_port, b"GET /elsewhere\n HTTP/1.1\r\n\r\n")
    # Written as answered: readable before the server stops.
    lines = (tmp_path / "requests.log").read_text().splitlines()
    assert lines == [
        "vendor udp " + vendor.hex().upper(),
        "hash udp %s %s" % (KNOWN.hex().upper(), OTHER.hex().upper()),
        "hash tcp " + OTHER.hex().upper(),
        "http GET /av/tvl/deletedvendors.txt 200",
        "http GET /elsewhere%0A 404",
    ]
    srv.stop()
    log.close()
