// The bytes received on one lookup channel and not yet handled, and the framing of the answers
// in them. An answer carries no length: it ends where the decoder of the pack that its sequence
// number names stops reading. Portable: no Windows headers.
#pragma once

#include <cstdint>
#include <functional>

#include "lookup/memory_stream.h"
#include "lookup/serialization.h"

namespace kal {

class CAnswerBuffer {
 public:
  enum class Parsed {
    Answer,   // the named pack's answers were read; the bytes are gone
    Partial,  // the answer is incomplete so far; every byte stays
    Dropped,  // no pack waits for that number (late or foreign): the buffer is emptied
    Failed,   // the named pack's answer is bad ("Invalid data"); its bytes are gone
  };
  // Reads the answers of the pack waiting for sequence; false when none waits. Throws as the
  // decoders do.
  using Decoder = std::function<bool(uint32_t sequence, CSerializationReader& reader)>;

  // Room for count more bytes after those held; valid until the next call.
  uint8_t* Reserve(uint32_t count);
  // After Reserve: received of the reserved bytes arrived (0 when none or the receive failed).
  void Commit(uint32_t received);

  // Handles the answer at the front. *sequence is its number unless the result is Partial.
  Parsed ParseOne(const Decoder& decode, uint32_t* sequence);

  uint32_t Size() const { return stream_.GetSize(); }
  void Clear() { stream_.Truncate(0); }

 private:
  // Held bytes always start at offset 0 and the cursor rests there between calls.
  CMemoryStream stream_;
  uint32_t reservedAt_ = 0;
};

}  // namespace kal
