// Framing answers in received bytes: complete, split, back to back, behind a zero word, late, and
// bad; what stays in the buffer after each.
#include "lookup/answer_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "lookup/wire_format.h"

namespace kal {
namespace {

using Parsed = CAnswerBuffer::Parsed;

// A vendor answer: sequence number, count, one byte per key.
std::string Answer(uint32_t sequence, uint8_t count, char verdict = 1) {
  std::string out(reinterpret_cast<const char*>(&sequence), 4);
  out.push_back(static_cast<char>(count));
  out.append(count, verdict);
  return out;
}

class AnswerBufferTest : public ::testing::Test {
 protected:
  void Receive(const std::string& bytes) {
    uint8_t* room = buffer_.Reserve(65536);
    std::memcpy(room, bytes.data(), bytes.size());
    buffer_.Commit(static_cast<uint32_t>(bytes.size()));
  }
  Parsed Parse(uint32_t* sequence) {
    return buffer_.ParseOne(
        [this](uint32_t number, CSerializationReader& reader) {
          const auto found = counts_.find(number);
          if (found == counts_.end()) return false;
          CSafetyLookupClientBase::CResponceTv out[255];
          DecodeResponses(reader, found->second, out);
          last_ = out[0].SignerVerdict;
          return true;
        },
        sequence);
  }

  CAnswerBuffer buffer_;
  std::map<uint32_t, uint32_t> counts_{{7, 3}, {8, 2}};  // in flight: number -> key count
  int32_t last_ = -99;
};

TEST_F(AnswerBufferTest, BackToBackAndSplit) {
  uint32_t sequence = 0;
  Receive(Answer(7, 3, 2) + Answer(8, 2).substr(0, 4));
  EXPECT_EQ(Parsed::Answer, Parse(&sequence));
  EXPECT_EQ(7u, sequence);
  EXPECT_EQ(2, last_);
  EXPECT_EQ(4u, buffer_.Size());  // the next answer's first bytes wait
  EXPECT_EQ(Parsed::Partial, Parse(&sequence));
  EXPECT_EQ(4u, buffer_.Size());
  Receive(Answer(8, 2).substr(4));
  EXPECT_EQ(Parsed::Answer, Parse(&sequence));
  EXPECT_EQ(8u, sequence);
  EXPECT_EQ(0u, buffer_.Size());
}

TEST_F(AnswerBufferTest, OutcomesAndWhatStays) {
  const struct {
    const char* name;
    std::string bytes;
    Parsed parsed;
    uint32_t sequence, left;
  } rows[] = {
      {"zero word", std::string(4, '\0') + Answer(7, 3), Parsed::Answer, 7, 0},
      {"late", Answer(9, 3) + Answer(7, 3), Parsed::Dropped, 9, 0},
      {"count one short", Answer(7, 2) + "xy", Parsed::Failed, 7, 4},  // read up to the count
      {"garbage behind", Answer(8, 2) + "garbage", Parsed::Answer, 8, 7},
      {"sequence cut", std::string("\x07\x00", 2), Parsed::Partial, 0, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    buffer_.Clear();
    Receive(row.bytes);
    uint32_t sequence = 0xdeadbeef;
    EXPECT_EQ(row.parsed, Parse(&sequence));
    if (row.parsed != Parsed::Partial) {
      EXPECT_EQ(row.sequence, sequence);
    }
    EXPECT_EQ(row.left, buffer_.Size());
  }
}

}  // namespace
}  // namespace kal
