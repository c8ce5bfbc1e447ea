// Fuzzes the framing of received answers: arbitrary bytes arriving in arbitrary chunks for a few
// packs in flight. Checks that an incomplete answer leaves every byte in place, that a pack is
// finished at most once, and that the buffer never holds more than one chunk and one answer.
// Input: chunk length byte, then per pack (4 of them, numbers 1-4) a type bit and a count byte,
// then the received bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>

#include "lookup/answer_buffer.h"
#include "lookup/wire_format.h"

namespace {

using kal::CAnswerBuffer;
using kal::CSafetyLookupClientBase;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Pack {
  bool hash;
  uint32_t count;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint32_t chunk = data[0] % 64 + 1;
  std::map<uint32_t, Pack> inFlight;
  for (uint32_t i = 0; i < 4; ++i) inFlight[i + 1] = Pack{(data[1 + 2 * i] & 1) != 0, data[2 + 2 * i] % 100 + 1u};
  data += 9;
  size -= 9;

  CSafetyLookupClientBase::CResponceHt ht[100];
  CSafetyLookupClientBase::CResponceTv tv[100];
  const CAnswerBuffer::Decoder decode = [&](uint32_t sequence, kal::CSerializationReader& reader) {
    const auto found = inFlight.find(sequence);
    if (found == inFlight.end()) return false;
    if (found->second.hash)
      kal::DecodeResponses(reader, found->second.count, ht);
    else
      kal::DecodeResponses(reader, found->second.count, tv);
    return true;
  };

  CAnswerBuffer buffer;
  const uint32_t largest = 8 + kal::ResponseSize(kal::kHashEntrySize, 100);
  for (size_t offset = 0; offset < size; offset += chunk) {
    const uint32_t n = static_cast<uint32_t>(size - offset < chunk ? size - offset : chunk);
    std::memcpy(buffer.Reserve(n), data + offset, n);
    buffer.Commit(n);
    Check(buffer.Size() <= largest + chunk);
    while (buffer.Size() != 0) {
      const uint32_t before = buffer.Size();
      uint32_t sequence;
      const CAnswerBuffer::Parsed parsed = buffer.ParseOne(decode, &sequence);
      if (parsed == CAnswerBuffer::Parsed::Partial) {
        Check(buffer.Size() == before);
        break;
      }
      Check(buffer.Size() < before);
      if (parsed == CAnswerBuffer::Parsed::Dropped) {
        Check(buffer.Size() == 0 && inFlight.count(sequence) == 0);
      } else {
        Check(inFlight.erase(sequence) == 1);  // finished once, then no longer in flight
      }
    }
  }
  return 0;
}
