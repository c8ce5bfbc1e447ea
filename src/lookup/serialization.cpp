// The little-endian value codecs of the lookup messages.
#include "lookup/serialization.h"

#include <algorithm>

#include "lookup/result_codes.h"

namespace kal {

namespace {
[[noreturn]] void ThrowNoStream() { throw CKalException("No stream", codes::kFail); }
}  // namespace

void CSerializationReader::ReadBytes(uint32_t n) {
  if (stream_ == nullptr) ThrowNoStream();
  if (n > sizeof(scratch_)) throw CKalException("Can't read stream", codes::kFail);
  if (stream_->Read(scratch_, n, 0) < n) throw CSerializationReaderNeedMoreDataException();
  if (SwapBytes) std::reverse(scratch_, scratch_ + n);
}

uint64_t CSerializationReader::ScratchValue(uint32_t n) const {
  uint64_t value = 0;
  for (uint32_t i = n; i-- > 0;) value = (value << 8) | scratch_[i];
  return value;
}

uint8_t CSerializationReader::ReadUInt8() {
  ReadBytes(1);
  return scratch_[0];
}

uint32_t CSerializationReader::ReadUInt32() {
  ReadBytes(4);
  return static_cast<uint32_t>(ScratchValue(4));
}

uint64_t CSerializationReader::ReadUInt64() {
  ReadBytes(8);
  return ScratchValue(8);
}

void CSerializationWriter::WriteBytes(const void* data, uint32_t n) {
  if (stream_ == nullptr) ThrowNoStream();
  if (stream_->Write(data, n, 0) != n) throw CKalException("Can't write stream");
}

void CSerializationWriter::WriteUInt8(uint8_t value) {
  scratch_[0] = value;
  WriteBytes(scratch_, 1);
}

void CSerializationWriter::WriteUInt32(uint32_t value) {
  for (int i = 0; i < 4; ++i) scratch_[i] = static_cast<uint8_t>(value >> (8 * i));
  if (SwapBytes) std::reverse(scratch_, scratch_ + 4);
  WriteBytes(scratch_, 4);
}

}  // namespace kal
