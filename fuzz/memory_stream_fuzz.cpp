// Fuzzes the memory stream and its value codecs with random operation sequences, checked step by
// step against a plain byte vector with a cursor and the 255-byte growth rule.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lookup/serialization.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr uint32_t kSizeLimit = 1u << 17;  // keeps a run's memory small

struct Model {
  std::vector<uint8_t> bytes;
  uint32_t position = 0;
  uint32_t capacity = 0;

  // Where count bytes written at the cursor leave the capacity.
  void Grow(uint32_t count) {
    const uint32_t available = capacity - position;
    if (count > available) capacity += (count - available + 254) / 255 * 255;
  }
  // Makes room for count bytes at the cursor and returns where they go.
  uint8_t* Extend(uint32_t count) {
    Grow(count);
    if (position + count > bytes.size()) bytes.resize(position + count);
    uint8_t* at = bytes.data() + position;
    position += count;
    return at;
  }
  void Store(const uint8_t* data, uint32_t count) {
    if (count > 0) std::memmove(Extend(count), data, count);
  }
  uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
};

void Compare(kal::CMemoryStream& s, const Model& m) {
  Check(s.GetSize() == m.size());
  Check(s.GetPosition() == m.position);
  Check(s.GetCapacity() == m.capacity);
  Check(s.CanRead() == (m.position < m.size()));
  Check(s.CanWrite());
}

std::string MessageOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const kal::CSerializationReaderNeedMoreDataException&) {
    return "more";
  } catch (const kal::CKalException& e) {
    return e.GetMessage();
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Model m;
  const bool sized = in.ConsumeBool();
  m.capacity = sized ? in.ConsumeIntegralInRange<uint32_t>(0, 4096) : 255;
  kal::CMemoryStream s(m.capacity);
  kal::CSerializationReader reader(&s);
  kal::CSerializationWriter writer(&s);

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: {  // write bytes from the input
        const std::vector<uint8_t> b = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<uint32_t>(0, 600));
        if (m.position + b.size() > kSizeLimit) break;
        const uint32_t offset = in.ConsumeIntegralInRange<uint32_t>(0, 3);
        std::vector<uint8_t> padded(offset, 0xbd);
        padded.insert(padded.end(), b.begin(), b.end());
        Check(s.Write(padded.data(), static_cast<uint32_t>(b.size()), offset) == b.size());
        m.Store(b.data(), static_cast<uint32_t>(b.size()));
        break;
      }
      case 1: {  // fill
        const uint8_t value = in.ConsumeIntegral<uint8_t>();
        const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, 70000);
        if (m.position + count > kSizeLimit) break;
        Check(s.Fill(value, count) == count);
        if (count > 0) std::memset(m.Extend(count), value, count);
        break;
      }
      case 2: {  // read into an offset of a marked buffer
        const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, 700);
        const uint32_t offset = in.ConsumeIntegralInRange<uint32_t>(0, 3);
        std::vector<uint8_t> out(offset + count + 4, 0xbd);
        const uint32_t n = s.Read(out.data(), count, offset);
        const uint32_t expected = std::min(count, m.size() - m.position);
        Check(n == expected);
        Check(n == 0 || std::memcmp(out.data() + offset, m.bytes.data() + m.position, n) == 0);
        for (size_t i = 0; i < out.size(); ++i) {
          if (i < offset || i >= offset + n) Check(out[i] == 0xbd);
        }
        m.position += n;
        break;
      }
      case 3: {  // move the cursor; refused at or past the size
        const uint32_t to = in.ConsumeIntegralInRange<uint32_t>(0, m.size() + 2);
        const std::string error = MessageOf([&] { s.SetPosition(to); });
        Check(error == (to < m.size() ? "" : "Stream set position overflow"));
        if (to < m.size()) m.position = to;
        break;
      }
      case 4: {  // truncate; refused past the size
        const uint32_t to = in.ConsumeIntegralInRange<uint32_t>(0, m.size() + 2);
        const std::string error = MessageOf([&] { s.Truncate(to); });
        Check(error == (to <= m.size() ? "" : "Stream truncate overflow"));
        if (to <= m.size()) {
          m.bytes.resize(to);
          m.position = std::min(m.position, to);
        }
        break;
      }
      case 5:
        s.Compact();
        if (m.position < m.size()) {
          m.bytes.erase(m.bytes.begin(), m.bytes.begin() + m.position);
          m.position = 0;
        }
        break;
      case 6: {  // write a run of the stream's own bytes, which may grow the buffer under it
        if (m.size() == 0) break;
        const uint32_t from = in.ConsumeIntegralInRange<uint32_t>(0, m.size() - 1);
        const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, m.size() - from);
        if (m.position + count > kSizeLimit) break;
        const std::vector<uint8_t> copy(m.bytes.begin() + from, m.bytes.begin() + from + count);
        Check(s.Write(s.GetBuffer() + from, count, 0) == count);
        m.Store(copy.data(), count);
        break;
      }
      case 7: {  // read a value through the codec
        const int width = 1 << in.ConsumeIntegralInRange<int>(0, 3);  // 1, 2, 4, 8
        reader.SwapBytes = in.ConsumeBool();
        uint64_t value = 0;
        const std::string error = MessageOf([&] {
          if (width == 1) value = reader.ReadUInt8();
          else if (width == 4) value = reader.ReadUInt32();
          else if (width == 8) value = reader.ReadUInt64();
          else reader.ReadBytes(2);
        });
        const uint32_t left = m.size() - m.position;
        if (left < static_cast<uint32_t>(width)) {
          Check(error == "more");
          m.position = m.size();
        } else {
          Check(error.empty());
          uint64_t expected = 0;
          for (int i = 0; i < width; ++i) {
            const uint8_t b = m.bytes[m.position + (reader.SwapBytes ? width - 1 - i : i)];
            expected |= uint64_t{b} << (8 * i);
          }
          if (width != 2) Check(value == expected);
          m.position += width;
        }
        break;
      }
      case 8: {  // write a value through the codec
        if (m.position + 5 > kSizeLimit) break;
        writer.SwapBytes = in.ConsumeBool();
        const uint32_t value = in.ConsumeIntegral<uint32_t>();
        const uint8_t byte = in.ConsumeIntegral<uint8_t>();
        writer.WriteUInt32(value);
        writer.WriteUInt8(byte);
        uint8_t b[5];
        for (int i = 0; i < 4; ++i) b[writer.SwapBytes ? 3 - i : i] = static_cast<uint8_t>(value >> (8 * i));
        b[4] = byte;
        m.Store(b, 5);
        break;
      }
      case 9:  // nothing to write: nothing changes
        Check(s.Write(nullptr, 0, 0) == 0);
        Check(s.Fill(0, 0) == 0);
        break;
    }
    Compare(s, m);
  }
  Check(m.size() == 0 || std::memcmp(s.GetBuffer(), m.bytes.data(), m.size()) == 0);
  return 0;
}
