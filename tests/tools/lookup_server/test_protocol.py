"""The protocol's bytes: requests as the scanner writes them, answers as it reads them."""
import pytest

import protocol

KEY = bytes(range(20))


def test_request_round_trip():
    data = protocol.encode_request(protocol.HASH, 0x01020304, [KEY, KEY[::-1]], tag=2)
    assert data[:8] == bytes([2, 4, 3, 2, 1, 2, 0, 4])
    assert data[8] == 101 and data[25] == 2 and len(data) == 26 + 40
    request = protocol.parse_request(data)
    assert (request.type, request.sequence, request.version, request.product, request.tag) == (2, 0x01020304, 4, 101, 2)
    assert request.keys == [KEY, KEY[::-1]]


GOOD = protocol.encode_request(protocol.HASH, 7, [KEY])
BAD_REQUESTS = [
    ("empty", b""),
    ("short header", GOOD[:25]),
    ("missing key bytes", GOOD[:-1]),
    ("trailing byte", GOOD + b"\0"),
    ("count 0", GOOD[:5] + b"\0" + GOOD[6:26]),
    ("101 keys", protocol.encode_request(protocol.HASH, 7, [KEY] * 101)),
    ("unknown type", b"\x03" + GOOD[1:]),
    ("byte 6 not zero", GOOD[:6] + b"\x01" + GOOD[7:]),
]


@pytest.mark.parametrize("name,data", BAD_REQUESTS, ids=[n for n, _ in BAD_REQUESTS])
def test_bad_requests_are_refused(name, data):
    with pytest.raises(protocol.BadRequest):
        protocol.parse_request(data)


def test_hash_answer_layout():
    # Verdict FF is -1; the date travels big-endian in milliseconds.
    data = protocol.encode_hash_answer(5, [(-1, 2, 0x01020304, 1644972474368)])
    assert data == bytes([5, 0, 0, 0, 1, 0xFF, 2, 1, 2, 3, 4, 0, 0, 1, 0x7F, 0, 0, 0, 0])
    assert protocol.encode_hash_answer(5, [(1, 0, 0, 0)], zero_word=True)[:8] == bytes([0, 0, 0, 0, 5, 0, 0, 0])
    assert len(protocol.encode_hash_answer(1, [(0, 0, 0, 0)] * 100)) == 1405


def test_vendor_answer_layout():
    assert protocol.encode_vendor_answer(9, [2, 0, -1]) == bytes([9, 0, 0, 0, 3, 2, 0, 0xFF])
    assert len(protocol.encode_vendor_answer(1, [0] * 100)) == 105
