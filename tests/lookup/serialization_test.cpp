// The value codecs: byte order, short reads and writes, and a missing stream.
#include "lookup/serialization.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kal {
namespace {

using Bytes = std::vector<uint8_t>;

CMemoryStream* StreamOf(CMemoryStream* s, const Bytes& b) {
  s->Write(b.data(), static_cast<uint32_t>(b.size()), 0);
  if (!b.empty()) s->SetPosition(0);
  return s;
}

enum class Width { k8, k32, k64 };

struct ReadCase {
  const char* name;
  Bytes input;
  bool swap;
  Width width;
  bool complete;  // false: the need-more-data exception
  uint64_t value;
};

TEST(SerializationReader, Table) {
  const ReadCase cases[] = {
      // Normal
      {"u8", {0xFE}, false, Width::k8, true, 0xFE},
      {"u32 little-endian", {1, 2, 3, 4}, false, Width::k32, true, 0x04030201},
      {"u32 swapped", {1, 2, 3, 4}, true, Width::k32, true, 0x01020304},
      {"u64 little-endian", {1, 2, 3, 4, 5, 6, 7, 8}, false, Width::k64, true, 0x0807060504030201},
      {"u64 swapped", {1, 2, 3, 4, 5, 6, 7, 8}, true, Width::k64, true, 0x0102030405060708},
      // Incomplete
      {"u8 of nothing", {}, false, Width::k8, false, 0},
      {"u32 of 3 bytes", {1, 2, 3}, false, Width::k32, false, 0},
      {"u64 of 7 bytes", {1, 2, 3, 4, 5, 6, 7}, false, Width::k64, false, 0},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryStream s;
    CSerializationReader reader(StreamOf(&s, c.input), c.swap);
    uint64_t value = 0;
    bool complete = true;
    try {
      switch (c.width) {
        case Width::k8: value = reader.ReadUInt8(); break;
        case Width::k32: value = reader.ReadUInt32(); break;
        case Width::k64: value = reader.ReadUInt64(); break;
      }
    } catch (const CSerializationReaderNeedMoreDataException& e) {
      complete = false;
      EXPECT_EQ("Can't read stream", e.GetMessage());
    }
    EXPECT_EQ(c.complete, complete);
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(s.GetSize(), s.GetPosition());  // a short read leaves the cursor after what it got
  }
}

TEST(SerializationWriter, ByteOrder) {
  CMemoryStream s;
  CSerializationWriter writer(&s);
  writer.WriteUInt32(0x04030201);
  writer.WriteUInt8(0xAB);
  writer.SwapBytes = true;
  writer.WriteUInt32(0x04030201);
  writer.WriteBytes("\x01\x02", 2);  // byte runs are never swapped
  EXPECT_EQ((Bytes{1, 2, 3, 4, 0xAB, 4, 3, 2, 1, 1, 2}), Bytes(s.GetBuffer(), s.GetBuffer() + s.GetSize()));
}

// Takes at most `room` bytes in all, like a stream that can't grow.
class CBoundedStream : public ISequentalStream {
 public:
  explicit CBoundedStream(uint32_t room) : room_(room) {}
  uint32_t Read(void*, uint32_t, uint32_t) override { return 0; }
  uint32_t Write(const void*, uint32_t count, uint32_t) override {
    const uint32_t n = count < room_ ? count : room_;
    room_ -= n;
    return n;
  }

 private:
  uint32_t room_;
};

TEST(SerializationWriter, ShortWriteThrows) {
  CBoundedStream s(3);
  CSerializationWriter writer(&s);
  try {
    writer.WriteUInt32(1);
    FAIL() << "no exception";
  } catch (const CSerializationReaderNeedMoreDataException&) {
    FAIL() << "a short write is not missing input";
  } catch (const CKalException& e) {
    EXPECT_EQ("Can't write stream", e.GetMessage());
  }
}

TEST(Serialization, NoStreamFailsWithEFail) {
  const int32_t kEFail = static_cast<int32_t>(0x80004005u);
  CSerializationReader reader;
  CSerializationWriter writer;
  auto code = [](auto&& op) -> int32_t {
    try {
      op();
    } catch (const CSerializationReaderNeedMoreDataException&) {
      return 1;
    } catch (const CKalException& e) {
      return e.GetCode();
    }
    return 0;
  };
  EXPECT_EQ(kEFail, code([&] { reader.ReadUInt8(); }));
  EXPECT_EQ(kEFail, code([&] { writer.WriteUInt8(1); }));
}

}  // namespace
}  // namespace kal
