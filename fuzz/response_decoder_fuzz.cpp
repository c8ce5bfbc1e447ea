// Fuzzes the answer decoder: arbitrary bytes as the answer for a pack of some count and type, fed
// whole and in two pieces, checked against a straightforward decoder over the plain bytes.
// Input: count byte, type byte, two bytes of split point, then the answer message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lookup/wire_format.h"

namespace {

using kal::CSafetyLookupClientBase;

enum class Kind { kDecoded, kInvalid, kMore };

struct Outcome {
  Kind kind = Kind::kMore;
  uint32_t sequence = 0;
  uint32_t consumed = 0;
  std::vector<CSafetyLookupClientBase::CResponceHt> ht;
  std::vector<CSafetyLookupClientBase::CResponceTv> tv;
};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uint64_t BigEndian(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// The answer format read straight off the bytes.
Outcome Reference(const uint8_t* data, size_t size, bool hash, uint32_t count) {
  Outcome o;
  size_t pos = 0;
  auto have = [&](size_t n) { return size - pos >= n; };
  if (!have(4)) return o;
  uint32_t seq;
  std::memcpy(&seq, data, 4);  // the fuzz hosts are little-endian
  pos = 4;
  if (seq == 0) {
    if (!have(4)) return o;
    std::memcpy(&seq, data + 4, 4);
    pos = 8;
  }
  o.sequence = seq;
  if (!have(1)) return o;
  if (data[pos++] != count) {
    o.kind = Kind::kInvalid;
    return o;
  }
  const size_t entry = hash ? 14 : 1;
  if (!have(entry * count)) return o;
  for (uint32_t i = 0; i < count; ++i, pos += entry) {
    const uint8_t* e = data + pos;
    if (hash) {
      o.ht.push_back({static_cast<int8_t>(e[0]), static_cast<int8_t>(e[1]),
                      static_cast<uint32_t>(BigEndian(e + 2, 4)), BigEndian(e + 6, 8) / 1000});
    } else {
      o.tv.push_back({static_cast<int8_t>(e[0])});
    }
  }
  o.kind = Kind::kDecoded;
  o.consumed = static_cast<uint32_t>(pos);
  return o;
}

// The system's decoder from the stream's cursor, as the pipeline runs it.
Outcome Decode(kal::CMemoryStream& stream, bool hash, uint32_t count) {
  Outcome o;
  kal::CSerializationReader reader(&stream);
  std::vector<CSafetyLookupClientBase::CResponceHt> ht(count);
  std::vector<CSafetyLookupClientBase::CResponceTv> tv(count);
  const uint32_t start = stream.GetPosition();
  try {
    o.sequence = kal::ReadResponseSequenceNumber(reader);
    if (hash) kal::DecodeResponses(reader, count, ht.data());
    else kal::DecodeResponses(reader, count, tv.data());
    o.kind = Kind::kDecoded;
    o.consumed = stream.GetPosition() - start;
    if (hash) o.ht = ht;
    else o.tv = tv;
  } catch (const kal::CSerializationReaderNeedMoreDataException&) {
    o.kind = Kind::kMore;
    o.sequence = 0;
    Check(stream.GetPosition() == stream.GetSize());
  } catch (const kal::CKalException& e) {
    Check(e.GetMessage() == "Invalid data");
    o.kind = Kind::kInvalid;
  }
  return o;
}

bool Same(const Outcome& a, const Outcome& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Kind::kMore) return true;
  if (a.sequence != b.sequence) return false;
  if (a.kind == Kind::kInvalid) return true;
  if (a.consumed != b.consumed || a.ht.size() != b.ht.size() || a.tv.size() != b.tv.size()) return false;
  for (size_t i = 0; i < a.ht.size(); ++i) {
    if (a.ht[i].FlsVerdict != b.ht[i].FlsVerdict || a.ht[i].LumenVerdict != b.ht[i].LumenVerdict ||
        a.ht[i].AuxValue != b.ht[i].AuxValue || a.ht[i].Date != b.ht[i].Date) {
      return false;
    }
  }
  for (size_t i = 0; i < a.tv.size(); ++i) {
    if (a.tv[i].SignerVerdict != b.tv[i].SignerVerdict) return false;
  }
  return true;
}

void Load(kal::CMemoryStream& stream, const uint8_t* data, size_t size) {
  Check(stream.Write(data, static_cast<uint32_t>(size), 0) == size);
  if (stream.GetSize() > 0) stream.SetPosition(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t count = 1 + data[0] % 100;
  const bool hash = (data[1] & 1) == 0;
  const uint8_t* message = data + 4;
  const size_t length = size - 4;
  const size_t split = (static_cast<size_t>(data[2]) | static_cast<size_t>(data[3]) << 8) % (length + 1);

  const Outcome expected = Reference(message, length, hash, count);

  kal::CMemoryStream whole;
  Load(whole, message, length);
  Check(Same(expected, Decode(whole, hash, count)));

  // In two pieces: the first alone must decode exactly when it holds the whole answer.
  kal::CMemoryStream pieces;
  Load(pieces, message, split);
  Outcome first = Decode(pieces, hash, count);
  Check(Same(Reference(message, split, hash, count), first));
  if (first.kind == Kind::kMore) {
    Check(pieces.Write(message + split, static_cast<uint32_t>(length - split), 0) == length - split);
    if (pieces.GetSize() > 0) pieces.SetPosition(0);
    first = Decode(pieces, hash, count);
    Check(Same(expected, first));
  }

  // What follows a decoded answer stays for the next one.
  if (first.kind == Kind::kDecoded && pieces.CanRead()) {
    const uint32_t rest = pieces.GetSize() - pieces.GetPosition();
    pieces.Compact();
    Check(pieces.GetSize() == rest && pieces.GetPosition() == 0);
    Check(std::memcmp(pieces.GetBuffer(), message + first.consumed, rest) == 0);
  }
  return 0;
}
