// Lookup messages byte for byte: requests, answers with and without the leading zero word, the
// count check, signed and big-endian fields, and answers that arrive in pieces.
#include "lookup/wire_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kal {
namespace {

using Bytes = std::vector<uint8_t>;
using Ht = CSafetyLookupClientBase::CResponceHt;
using Tv = CSafetyLookupClientBase::CResponceTv;

CSafetyLookupClientBase::CRequest KeyFrom(uint8_t first) {
  CSafetyLookupClientBase::CRequest key;
  for (uint8_t i = 0; i < 20; ++i) key.Key[i] = static_cast<uint8_t>(first + i);
  return key;
}

Bytes Encode(uint32_t type, uint32_t seq, uint32_t tag, const std::vector<CSafetyLookupClientBase::CRequest>& keys) {
  CMemoryStream s;
  CSerializationWriter writer(&s);
  EncodeRequest(writer, type, seq, CSafetyLookupClientBase::CProtocolSettings(), tag, keys.data(),
                static_cast<uint32_t>(keys.size()));
  return Bytes(s.GetBuffer(), s.GetBuffer() + s.GetSize());
}

TEST(WireFormat, OneKeyHashRequest) {
  const Bytes expected = {
      0x02,                                            // hash request
      0x78, 0x56, 0x34, 0x12,                          // sequence number, little-endian
      0x01, 0x00, 0x04, 0x65,                          // count, zero, version, product code
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // client id
      0x02,                                            // tag
      1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  EXPECT_EQ(expected, Encode(2, 0x12345678, 2, {KeyFrom(1)}));
}

TEST(WireFormat, FullVendorPackRequest) {
  std::vector<CSafetyLookupClientBase::CRequest> keys;
  for (int i = 0; i < 100; ++i) keys.push_back(KeyFrom(static_cast<uint8_t>(i)));
  const Bytes b = Encode(5, 7, 0x1FE, keys);  // only the tag's low byte travels
  ASSERT_EQ(2026u, b.size());
  EXPECT_EQ((Bytes{5, 7, 0, 0, 0, 100, 0, 4, 101}), Bytes(b.begin(), b.begin() + 9));
  EXPECT_EQ(0xFE, b[25]);
  for (int i = 0; i < 100; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(std::equal(keys[i].Key, keys[i].Key + 20, b.begin() + 26 + 20 * i));
  }
}

TEST(WireFormat, ProductCodeIsProcessWide) {
  const uint8_t saved = CSafetyLookupClientBase::GetProductCode();
  CSafetyLookupClientBase::SetProductCode(0x33);
  const Bytes b = Encode(2, 1, 2, {KeyFrom(0)});
  CSafetyLookupClientBase::SetProductCode(saved);
  EXPECT_EQ(0x33, b[8]);
}

TEST(WireFormat, SequenceNumbersAreUniqueAcrossThreads) {
  const uint32_t first = CSafetyLookupClientBase::NextSequenceNumber();
  std::vector<uint32_t> a, b;
  auto take = [](std::vector<uint32_t>* out) {
    for (int i = 0; i < 20000; ++i) out->push_back(CSafetyLookupClientBase::NextSequenceNumber());
  };
  std::thread ta(take, &a), tb(take, &b);
  ta.join();
  tb.join();
  std::set<uint32_t> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(40000u, all.size());
  EXPECT_EQ(first + 1, *all.begin());
  EXPECT_EQ(first + 40000, *all.rbegin());
}

// One answer message; the outcome of parsing it from its start.
struct Parsed {
  std::string error;  // "" = decoded, "more" = incomplete, else the exception message
  uint32_t sequence = 0;
  std::vector<Ht> ht;
  std::vector<Tv> tv;
};

Parsed Parse(CMemoryStream& s, uint32_t type, uint32_t count) {
  Parsed p;
  CSerializationReader reader(&s);
  p.ht.assign(count, Ht{});
  p.tv.assign(count, Tv{});
  try {
    p.sequence = ReadResponseSequenceNumber(reader);
    if (type == 2) DecodeResponses(reader, count, p.ht.data());
    else DecodeResponses(reader, count, p.tv.data());
  } catch (const CSerializationReaderNeedMoreDataException&) {
    p.error = "more";
  } catch (const CKalException& e) {
    p.error = e.GetMessage();
  }
  return p;
}

Parsed ParseBytes(const Bytes& b, uint32_t type, uint32_t count) {
  CMemoryStream s;
  s.Write(b.data(), static_cast<uint32_t>(b.size()), 0);
  if (!b.empty()) s.SetPosition(0);
  return Parse(s, type, count);
}

const Bytes kHashEntryA = {0x01, 0xFE, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x7F, 0x00, 0x00, 0x00, 0x00};
const Bytes kHashEntryB = {0xFF, 0x07, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0, 0x03, 0xE7};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct AnswerCase {
  const char* name;
  Bytes message;
  uint32_t type;
  uint32_t count;
  std::string error;
  uint32_t sequence;
  std::vector<Ht> ht;
  std::vector<Tv> tv;
};

TEST(WireFormat, Answers) {
  const AnswerCase cases[] = {
      // Normal
      {"hash answers",
       Concat({{0x2A, 0, 0, 0, 2}, kHashEntryA, kHashEntryB}), 2, 2, "", 42,
       {{1, -2, 0x102, 1644972474}, {-1, 7, 0xDEADBEEF, 0}}, {}},
      {"leading zero word skipped",
       Concat({{0, 0, 0, 0, 0x2A, 0, 0, 0, 1}, kHashEntryA}), 2, 1, "", 42,
       {{1, -2, 0x102, 1644972474}}, {}},
      {"vendor answers", {9, 0, 0, 0, 3, 0x02, 0x01, 0xFF}, 5, 3, "", 9, {}, {{2}, {1}, {-1}}},
      {"zero word skipped only once", {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 5, 1, "", 0, {}, {{0}}},
      // Malformed
      {"count one short", Concat({{0x2A, 0, 0, 0, 1}, kHashEntryA}), 2, 2, "Invalid data", 42,
       {}, {}},
      {"count one more", {9, 0, 0, 0, 2, 1, 1}, 5, 1, "Invalid data", 9, {}, {}},
      // Incomplete
      {"nothing", {}, 2, 1, "more", 0, {}, {}},
      {"only the zero word", {0, 0, 0, 0}, 5, 1, "more", 0, {}, {}},
      {"last date byte missing", Concat({{0x2A, 0, 0, 0, 1}, Bytes(kHashEntryA.begin(), kHashEntryA.end() - 1)}),
       2, 1, "more", 42, {}, {}},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Parsed p = ParseBytes(c.message, c.type, c.count);
    EXPECT_EQ(c.error, p.error);
    EXPECT_EQ(c.sequence, p.sequence);
    for (size_t i = 0; i < c.ht.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(c.ht[i].FlsVerdict, p.ht[i].FlsVerdict);
      EXPECT_EQ(c.ht[i].LumenVerdict, p.ht[i].LumenVerdict);
      EXPECT_EQ(c.ht[i].AuxValue, p.ht[i].AuxValue);
      EXPECT_EQ(c.ht[i].Date, p.ht[i].Date);
    }
    for (size_t i = 0; i < c.tv.size(); ++i) EXPECT_EQ(c.tv[i].SignerVerdict, p.tv[i].SignerVerdict) << i;
  }
}

// An answer that arrives in two pieces decodes only once the second piece is there, and then
// exactly as if it had arrived whole.
TEST(WireFormat, AnswerSplitAtEveryByte) {
  const Bytes whole[] = {Concat({{0x2A, 0, 0, 0, 2}, kHashEntryA, kHashEntryB}),
                         Concat({{0, 0, 0, 0, 0x2A, 0, 0, 0, 2}, kHashEntryA, kHashEntryB})};
  for (const Bytes& message : whole) {
    for (size_t split = 0; split <= message.size(); ++split) {
      SCOPED_TRACE(testing::Message() << message.size() << " bytes split at " << split);
      CMemoryStream s;
      s.Write(message.data(), static_cast<uint32_t>(split), 0);
      if (split > 0) s.SetPosition(0);
      Parsed p = Parse(s, 2, 2);
      if (split < message.size()) {
        EXPECT_EQ("more", p.error);
        ASSERT_EQ(s.GetSize(), s.GetPosition());  // the rest is appended at the cursor
        s.Write(message.data() + split, static_cast<uint32_t>(message.size() - split), 0);
        s.SetPosition(0);
        p = Parse(s, 2, 2);
      }
      EXPECT_EQ("", p.error);
      EXPECT_EQ(42u, p.sequence);
      EXPECT_EQ(1644972474u, p.ht[0].Date);
      EXPECT_EQ(-1, p.ht[1].FlsVerdict);
      EXPECT_EQ(message.size(), s.GetPosition());
    }
  }
}

TEST(WireFormat, FullAnswerSizes) {
  EXPECT_EQ(1405u, ResponseSize(kHashEntrySize, 100));
  EXPECT_EQ(105u, ResponseSize(kVendorEntrySize, 100));
}

}  // namespace
}  // namespace kal
