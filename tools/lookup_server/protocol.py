"""The lookup protocol's bytes: requests from scanners and the answers to them.

A request is a 26-byte header (type, sequence number, key count, zero, protocol version, product
code, client id, tag) followed by 20 bytes per key. An answer is the sequence number, the count
and one entry per key: 14 bytes for a hash (verdict, analysis verdict, aux value and date in
milliseconds, both big-endian), 1 byte for a vendor. Neither carries a length."""
import struct

HASH = 2
VENDOR = 5
REQUEST_TYPES = (HASH, VENDOR)
HEADER_SIZE = 26
KEY_SIZE = 20
MAX_KEYS = 100
MAX_REQUEST = HEADER_SIZE + KEY_SIZE * MAX_KEYS

_HEADER = struct.Struct("<BIBBBB16sB")
_HASH_ENTRY = struct.Struct(">bbIQ")


class BadRequest(ValueError):
    """Bytes that are not a request: the datagram is dropped, the connection closed."""


class Request:
    __slots__ = ("type", "sequence", "version", "product", "client_id", "tag", "keys")

    def __init__(self, type_, sequence, version, product, client_id, tag, keys):
        self.type = type_
        self.sequence = sequence
        self.version = version
        self.product = product
        self.client_id = client_id
        self.tag = tag
        self.keys = keys


def request_size(header):
    """The whole request's length from its first 6 bytes; BadRequest for a bad type or count."""
    if header[0] not in REQUEST_TYPES:
        raise BadRequest("unknown request type %d" % header[0])
    count = header[5]
    if count == 0 or count > MAX_KEYS:
        raise BadRequest("bad key count %d" % count)
    return HEADER_SIZE + KEY_SIZE * count


def parse_request(data):
    """One complete request, exactly `data`; BadRequest for anything else."""
    if len(data) < HEADER_SIZE:
        raise BadRequest("short request (%d bytes)" % len(data))
    size = request_size(data)
    if len(data) != size:
        raise BadRequest("request of %d keys is %d bytes, not %d" % (data[5], len(data), size))
    type_, sequence, count, zero, version, product, client_id, tag = _HEADER.unpack_from(data)
    if zero != 0:
        raise BadRequest("byte 6 is %d, not 0" % zero)
    keys = [bytes(data[HEADER_SIZE + i * KEY_SIZE:HEADER_SIZE + (i + 1) * KEY_SIZE]) for i in range(count)]
    return Request(type_, sequence, version, product, client_id, tag, keys)


def encode_request(type_, sequence, keys, tag=2, version=4, product=101, client_id=bytes(16)):
    """A request as the scanner sends it (for tests and the benchmark)."""
    return _HEADER.pack(type_, sequence, len(keys), 0, version, product, client_id, tag) + b"".join(keys)


def encode_hash_answer(sequence, entries, zero_word=False):
    """entries: (fls, lumen, aux, date_ms) per key, in request order."""
    head = (b"\0\0\0\0" if zero_word else b"") + struct.pack("<IB", sequence, len(entries))
    return head + b"".join(_HASH_ENTRY.pack(*entry) for entry in entries)


def encode_vendor_answer(sequence, verdicts, zero_word=False):
    head = (b"\0\0\0\0" if zero_word else b"") + struct.pack("<IB", sequence, len(verdicts))
    return head + struct.pack("%db" % len(verdicts), *verdicts)


def decode_answer(type_, data):
    """(sequence, entries) of one complete answer without a leading zero word (for tests)."""
    sequence, count = struct.unpack_from("<IB", data)
    if type_ == HASH:
        return sequence, [_HASH_ENTRY.unpack_from(data, 5 + i * 14) for i in range(count)]
    return sequence, list(struct.unpack_from("%db" % count, data, 5))
