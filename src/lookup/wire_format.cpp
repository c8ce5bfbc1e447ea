// Encoding of lookup requests and decoding of their answers. Multi-byte answer fields travel
// big-endian and are byte-reversed here; the codecs themselves always run little-endian.
#include "lookup/wire_format.h"

#include <atomic>

namespace kal {

namespace {
std::atomic<uint32_t> g_sequenceNumber{0};
std::atomic<uint8_t> g_productCode{CSafetyLookupClientBase::kProductCode};

uint32_t ReverseBytes32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint64_t ReverseBytes64(uint64_t v) {
  return (uint64_t{ReverseBytes32(static_cast<uint32_t>(v))} << 32) |
         ReverseBytes32(static_cast<uint32_t>(v >> 32));
}

void ReadCount(CSerializationReader& reader, uint32_t expectedCount) {
  if (reader.ReadUInt8() != expectedCount) throw CKalException("Invalid data");
}
}  // namespace

uint32_t CSafetyLookupClientBase::NextSequenceNumber() {
  uint32_t number = ++g_sequenceNumber;
  while (number == 0) number = ++g_sequenceNumber;
  return number;
}

void CSafetyLookupClientBase::SetProductCode(uint8_t code) { g_productCode = code; }
uint8_t CSafetyLookupClientBase::GetProductCode() { return g_productCode; }

void EncodeRequest(CSerializationWriter& writer, uint32_t requestType, uint32_t sequenceNumber,
                   const CSafetyLookupClientBase::CProtocolSettings& settings, uint32_t requestTag,
                   const CSafetyLookupClientBase::CRequest* keys, uint32_t count) {
  writer.WriteUInt8(static_cast<uint8_t>(requestType));
  writer.WriteUInt32(sequenceNumber);
  writer.WriteUInt8(static_cast<uint8_t>(count));
  writer.WriteUInt8(0);
  writer.WriteUInt8(settings.ProtocolVersion);
  writer.WriteUInt8(CSafetyLookupClientBase::GetProductCode());
  writer.WriteBytes(settings.ClientId, sizeof(settings.ClientId));
  writer.WriteUInt8(static_cast<uint8_t>(requestTag));
  writer.WriteBytes(keys, CSafetyLookupClientBase::kKeySize * count);
}

uint32_t ReadResponseSequenceNumber(CSerializationReader& reader) {
  const uint32_t first = reader.ReadUInt32();
  return first != 0 ? first : reader.ReadUInt32();
}

void DecodeResponses(CSerializationReader& reader, uint32_t expectedCount,
                     CSafetyLookupClientBase::CResponceHt* out) {
  ReadCount(reader, expectedCount);
  for (uint32_t i = 0; i < expectedCount; ++i) {
    CSafetyLookupClientBase::CResponceHt& entry = out[i];
    entry.FlsVerdict = static_cast<int8_t>(reader.ReadUInt8());
    entry.LumenVerdict = static_cast<int8_t>(reader.ReadUInt8());
    entry.AuxValue = ReverseBytes32(reader.ReadUInt32());
    entry.Date = ReverseBytes64(reader.ReadUInt64()) / 1000;
  }
}

void DecodeResponses(CSerializationReader& reader, uint32_t expectedCount,
                     CSafetyLookupClientBase::CResponceTv* out) {
  ReadCount(reader, expectedCount);
  for (uint32_t i = 0; i < expectedCount; ++i) {
    out[i].SignerVerdict = static_cast<int8_t>(reader.ReadUInt8());
  }
}

}  // namespace kal
