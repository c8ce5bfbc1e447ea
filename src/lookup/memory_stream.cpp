// The growable memory stream: one cursor for reads and writes, growth in 255-byte steps.
#include "lookup/memory_stream.h"

#include <cstdlib>
#include <cstring>

#include "lookup/result_codes.h"
#include "support/kal_exception.h"

namespace kal {

namespace {
[[noreturn]] void ThrowOutOfMemory() { throw CKalException("Out of memory", codes::kOutOfMemory); }
}  // namespace

CMemoryStream::CMemoryStream() : CMemoryStream(kGrowthStep) {}

CMemoryStream::CMemoryStream(uint32_t capacity) {
  if (capacity != 0) {
    data_ = static_cast<uint8_t*>(std::malloc(capacity));
    if (data_ == nullptr) ThrowOutOfMemory();
  }
  capacity_ = capacity;
}

CMemoryStream::~CMemoryStream() {
  if (growable_) std::free(data_);
}

uint32_t CMemoryStream::Reserve(uint32_t count) {
  const uint32_t available = capacity_ - position_;
  if (available >= count) return count;
  if (!growable_) return available;
  // The shortfall rounded up to whole steps; 64-bit so that a huge count can't wrap the capacity.
  const uint64_t shortfall = uint64_t{count} - available;
  const uint64_t grown =
      uint64_t{capacity_} + (shortfall + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
  if (grown > UINT32_MAX) ThrowOutOfMemory();
  void* data = std::realloc(data_, static_cast<size_t>(grown));
  if (data == nullptr) ThrowOutOfMemory();
  data_ = static_cast<uint8_t*>(data);
  capacity_ = static_cast<uint32_t>(grown);
  return count;
}

uint32_t CMemoryStream::Read(void* buffer, uint32_t count, uint32_t offset) {
  const uint32_t left = size_ - position_;
  const uint32_t n = count < left ? count : left;
  if (n == 0) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer) + offset;
  const uint8_t* in = data_ + position_;
  if (n <= 8) {  // the codecs' field reads: a library call would cost more than the copy
    for (uint32_t i = 0; i < n; ++i) out[i] = in[i];
  } else {
    std::memcpy(out, in, n);
  }
  position_ += n;
  return n;
}

uint32_t CMemoryStream::Write(const void* buffer, uint32_t count, uint32_t offset) {
  if (count == 0) return 0;
  const uint8_t* source = static_cast<const uint8_t*>(buffer) + offset;
  // Bytes copied from this stream's own buffer must be found again after a reallocation.
  const uintptr_t address = reinterpret_cast<uintptr_t>(source);
  const uintptr_t base = reinterpret_cast<uintptr_t>(data_);
  const bool own = data_ != nullptr && address >= base && address < base + capacity_;
  const uintptr_t ownOffset = address - base;
  const uint32_t n = Reserve(count);
  if (n == 0) return 0;
  if (own) source = data_ + ownOffset;
  std::memmove(data_ + position_, source, n);
  position_ += n;
  if (position_ > size_) size_ = position_;
  return n;
}

uint32_t CMemoryStream::Fill(uint8_t value, uint32_t count) {
  if (count == 0) return 0;
  const uint32_t n = Reserve(count);
  if (n == 0) return 0;
  std::memset(data_ + position_, value, n);
  position_ += n;
  if (position_ > size_) size_ = position_;
  return n;
}

void CMemoryStream::SetPosition(uint32_t position) {
  if (position >= size_) throw CKalException("Stream set position overflow");
  position_ = position;
}

void CMemoryStream::Truncate(uint32_t newSize) {
  if (newSize > size_) throw CKalException("Stream truncate overflow");
  size_ = newSize;
  if (position_ > newSize) position_ = newSize;
}

void CMemoryStream::Compact() {
  if (position_ >= size_) return;
  std::memmove(data_, data_ + position_, size_ - position_);
  size_ -= position_;
  position_ = 0;
}

}  // namespace kal
