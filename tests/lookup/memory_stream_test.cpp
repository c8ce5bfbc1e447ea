// The memory stream's cursor, size and growth rules, one scripted stream per row.
#include "lookup/memory_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/kal_exception.h"

namespace kal {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Counting(uint32_t n, uint8_t first = 1) {
  Bytes b(n);
  for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

void Put(CMemoryStream& s, const Bytes& b) {
  ASSERT_EQ(b.size(), s.Write(b.data(), static_cast<uint32_t>(b.size()), 0));
}

struct StreamCase {
  const char* name;
  std::function<void(CMemoryStream&)> act;  // the last step may throw
  const char* error;                        // expected exception message, or null
  uint32_t size;
  uint32_t position;
  uint32_t capacity;
  Bytes data;  // expected first bytes of the buffer
};

TEST(MemoryStream, Table) {
  const StreamCase cases[] = {
      // Normal
      {"fresh stream", [](CMemoryStream&) {}, nullptr, 0, 0, 255, {}},
      {"overwrite inside keeps the size",
       [](CMemoryStream& s) {
         Put(s, Counting(5));
         s.SetPosition(1);
         Put(s, {9, 9});
       },
       nullptr, 5, 3, 255, {1, 9, 9, 4, 5}},
      {"overwrite past the end extends it",
       [](CMemoryStream& s) {
         Put(s, Counting(5));
         s.SetPosition(3);
         Put(s, {9, 9, 9});
       },
       nullptr, 6, 6, 255, {1, 2, 3, 9, 9, 9}},
      {"read stops at the end",
       [](CMemoryStream& s) {
         Put(s, Counting(3));
         s.SetPosition(1);
         uint8_t out[8] = {0xbd, 0xbd, 0xbd, 0xbd, 0xbd, 0xbd, 0xbd, 0xbd};
         EXPECT_EQ(2u, s.Read(out, 8, 1));
         EXPECT_EQ((Bytes{0xbd, 2, 3, 0xbd}), Bytes(out, out + 4));
         EXPECT_EQ(0u, s.Read(out, 8, 0));
         EXPECT_FALSE(s.CanRead());
       },
       nullptr, 3, 3, 255, {1, 2, 3}},
      {"zero-length write", [](CMemoryStream& s) { EXPECT_EQ(0u, s.Write(nullptr, 0, 0)); },
       nullptr, 0, 0, 255, {}},
      // Cursor and size bounds
      {"SetPosition(size - 1)",
       [](CMemoryStream& s) {
         Put(s, Counting(3));
         s.SetPosition(2);
       },
       nullptr, 3, 2, 255, {1, 2, 3}},
      {"SetPosition(size) refused",
       [](CMemoryStream& s) {
         Put(s, Counting(3));
         s.SetPosition(3);
       },
       "Stream set position overflow", 3, 3, 255, {1, 2, 3}},
      {"SetPosition(0) on an empty stream refused", [](CMemoryStream& s) { s.SetPosition(0); },
       "Stream set position overflow", 0, 0, 255, {}},
      {"Truncate(size) changes nothing",
       [](CMemoryStream& s) {
         Put(s, Counting(3));
         s.SetPosition(1);
         s.Truncate(3);
       },
       nullptr, 3, 1, 255, {1, 2, 3}},
      {"Truncate(size + 1) refused",
       [](CMemoryStream& s) {
         Put(s, Counting(3));
         s.SetPosition(1);
         s.Truncate(4);
       },
       "Stream truncate overflow", 3, 1, 255, {1, 2, 3}},
      {"Truncate below the cursor pulls it back",
       [](CMemoryStream& s) {
         Put(s, Counting(300));
         s.Truncate(2);
       },
       nullptr, 2, 2, 510, {1, 2}},
      // Growth in whole steps of 255
      {"255 bytes fit the default stream", [](CMemoryStream& s) { Put(s, Counting(255)); },
       nullptr, 255, 255, 255, {}},
      {"256 bytes", [](CMemoryStream& s) { Put(s, Counting(256)); }, nullptr, 256, 256, 510, {}},
      {"600 bytes", [](CMemoryStream& s) { Put(s, Counting(600)); }, nullptr, 600, 600, 765, {}},
      {"growth counts from the cursor",
       [](CMemoryStream& s) {
         Put(s, Counting(200));
         s.SetPosition(100);
         Put(s, Counting(200));  // 155 fit, 45 short: one more step
       },
       nullptr, 300, 300, 510, {}},
      {"Fill(0, 65536)", [](CMemoryStream& s) { EXPECT_EQ(65536u, s.Fill(0, 65536)); }, nullptr,
       65536, 65536, 65790, {0, 0, 0}},
      {"a write from the stream's own buffer survives the growth",
       [](CMemoryStream& s) {
         Put(s, Counting(255));
         EXPECT_EQ(100u, s.Write(s.GetBuffer(), 100, 0));
         EXPECT_EQ(Counting(100), Bytes(s.GetBuffer() + 255, s.GetBuffer() + 355));
       },
       nullptr, 355, 355, 510, {1, 2, 3}},
      // Compact
      {"Compact after reading 5 of 8",
       [](CMemoryStream& s) {
         Put(s, Counting(8));
         s.SetPosition(5);
         s.Compact();
       },
       nullptr, 3, 0, 255, {6, 7, 8}},
      {"Compact after reading all 8",
       [](CMemoryStream& s) {
         Put(s, Counting(8));
         s.Compact();
       },
       nullptr, 8, 8, 255, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryStream s;
    std::string error;
    try {
      c.act(s);
    } catch (const CKalException& e) {
      error = e.GetMessage();
    }
    EXPECT_EQ(c.error ? c.error : "", error);
    EXPECT_EQ(c.size, s.GetSize());
    EXPECT_EQ(c.position, s.GetPosition());
    EXPECT_EQ(c.capacity, s.GetCapacity());
    EXPECT_EQ(c.position < c.size, s.CanRead());
    EXPECT_TRUE(s.CanWrite());
    ASSERT_LE(c.data.size(), s.GetSize());
    EXPECT_EQ(c.data, Bytes(s.GetBuffer(), s.GetBuffer() + c.data.size()));
  }
}

TEST(MemoryStream, CapacityConstructor) {
  CMemoryStream empty(0);
  EXPECT_EQ(0u, empty.GetCapacity());
  EXPECT_EQ(1u, empty.Write("x", 1, 0));
  EXPECT_EQ(255u, empty.GetCapacity());

  CMemoryStream request(20 * 100 + 8);  // a full pack's request grows it once
  EXPECT_EQ(2008u, request.GetCapacity());
  EXPECT_EQ(2026u, request.Fill(7, 2026));
  EXPECT_EQ(2008u + 255u, request.GetCapacity());
}

TEST(MemoryStream, GrowthBeyond4GiBFailsAndKeepsTheStream) {
  CMemoryStream s;
  Put(s, Counting(10));
  try {
    s.Fill(0, 0xFFFFFFFFu);
    FAIL() << "no exception";
  } catch (const CKalException& e) {
    EXPECT_EQ(static_cast<int32_t>(0x8007000Eu), e.GetCode());
  }
  EXPECT_EQ(10u, s.GetSize());
  EXPECT_EQ(10u, s.GetPosition());
  EXPECT_EQ(255u, s.GetCapacity());
  EXPECT_EQ(Counting(10), Bytes(s.GetBuffer(), s.GetBuffer() + 10));
}

}  // namespace
}  // namespace kal
