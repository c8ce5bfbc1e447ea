// Fixed-width integer and byte-run codecs over any sequential stream, and the exception that
// tells an incomplete message from a bad one. Integers travel little-endian unless SwapBytes is
// set. Portable: no Windows headers.
#pragma once

#include <cstdint>

#include "lookup/memory_stream.h"
#include "support/kal_exception.h"

namespace kal {

// A read found fewer bytes than it needed: the message is incomplete so far, not wrong.
class CSerializationReaderNeedMoreDataException : public CKalException {
 public:
  CSerializationReaderNeedMoreDataException() : CKalException("Can't read stream") {}
};

// Reads through a stream it does not own. A reader without a stream throws CKalException with the
// code E_FAIL before touching anything. A short read throws the need-more-data exception and
// leaves the stream's cursor after the bytes that were there.
class CSerializationReader {
 public:
  explicit CSerializationReader(ISequentalStream* stream = nullptr, bool swapBytes = false)
      : SwapBytes(swapBytes), stream_(stream) {}

  void SetStream(ISequentalStream* stream) { stream_ = stream; }
  ISequentalStream* GetStream() const { return stream_; }

  // Reads exactly n (<= 8) bytes into the scratch bytes, reversed when SwapBytes is set.
  void ReadBytes(uint32_t n);
  uint8_t ReadUInt8();
  uint32_t ReadUInt32();
  uint64_t ReadUInt64();

  bool SwapBytes;

 private:
  uint64_t ScratchValue(uint32_t n) const;

  uint8_t scratch_[8] = {};
  ISequentalStream* stream_;
};

// Writes through a stream it does not own. A writer without a stream throws CKalException with the
// code E_FAIL; a stream that takes fewer bytes than given throws CKalException "Can't write
// stream". Byte runs are never swapped.
class CSerializationWriter {
 public:
  explicit CSerializationWriter(ISequentalStream* stream = nullptr, bool swapBytes = false)
      : SwapBytes(swapBytes), stream_(stream) {}

  void SetStream(ISequentalStream* stream) { stream_ = stream; }
  ISequentalStream* GetStream() const { return stream_; }

  void WriteBytes(const void* data, uint32_t n);
  void WriteUInt8(uint8_t value);
  void WriteUInt32(uint32_t value);

  bool SwapBytes;

 private:
  uint8_t scratch_[8] = {};
  ISequentalStream* stream_;
};

}  // namespace kal
