// The growable in-memory byte stream that lookup messages are built in and parsed from, behind
// the sequential interface the serialization codecs read and write through. Portable: no
// Windows headers.
#pragma once

#include <cstdint>

namespace kal {

// What the codecs need: a cursor that reads and writes byte runs.
class ISequentalStream {
 public:
  virtual ~ISequentalStream() = default;
  // Copies up to count bytes from the cursor to buffer + offset; returns how many (0 at the end).
  virtual uint32_t Read(void* buffer, uint32_t count, uint32_t offset) = 0;
  // Copies count bytes from buffer + offset to the cursor; returns how many were stored.
  virtual uint32_t Write(const void* buffer, uint32_t count, uint32_t offset) = 0;
};

// The rest of a memory stream: size, cursor and the buffer itself.
class IMemoryStream : public ISequentalStream {
 public:
  virtual uint32_t Fill(uint8_t value, uint32_t count) = 0;
  virtual uint32_t GetSize() const = 0;
  virtual uint32_t GetPosition() const = 0;
  // Throws CKalException "Stream set position overflow" unless position < size.
  virtual void SetPosition(uint32_t position) = 0;
  // Throws CKalException "Stream truncate overflow" when newSize > size; keeps the buffer.
  virtual void Truncate(uint32_t newSize) = 0;
  virtual bool CanRead() const = 0;
  virtual bool CanWrite() const = 0;
  // The buffer itself; valid until the next write that grows it.
  virtual uint8_t* GetBuffer() = 0;
};

// Owns its buffer and grows it in steps of whole multiples of 255 bytes, so small messages fit
// one allocation. A failed growth throws CKalException with the code E_OUTOFMEMORY and leaves
// the stream as it was.
class CMemoryStream : public IMemoryStream {
 public:
  static constexpr uint32_t kGrowthStep = 255;

  CMemoryStream();
  explicit CMemoryStream(uint32_t capacity);
  CMemoryStream(const CMemoryStream&) = delete;
  CMemoryStream& operator=(const CMemoryStream&) = delete;
  ~CMemoryStream() override;

  uint32_t Read(void* buffer, uint32_t count, uint32_t offset) override;
  uint32_t Write(const void* buffer, uint32_t count, uint32_t offset) override;
  uint32_t Fill(uint8_t value, uint32_t count) override;
  uint32_t GetSize() const override { return size_; }
  uint32_t GetPosition() const override { return position_; }
  void SetPosition(uint32_t position) override;
  void Truncate(uint32_t newSize) override;
  bool CanRead() const override { return position_ < size_; }
  bool CanWrite() const override { return growable_ || position_ < size_; }
  uint8_t* GetBuffer() override { return data_; }

  // Moves the unread bytes to the front so a receive buffer does not grow without end; a fully
  // read stream is left as it is.
  void Compact();

  uint32_t GetCapacity() const { return capacity_; }

 private:
  // Makes room for count bytes at the cursor; returns how many of them fit.
  uint32_t Reserve(uint32_t count);

  bool growable_ = true;
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  uint32_t position_ = 0;
};

}  // namespace kal
