// The bytes of the cloud lookup protocol: the request records and answer records, the request
// message of protocol version 4, the answer message, and the process-wide sequence counter and
// product code. Portable: no Windows headers.
#pragma once

#include <cstdint>

#include "lookup/serialization.h"

namespace kal {

// Holds the protocol settings of a lookup client; the records it exchanges are nested in it.
class CSafetyLookupClientBase {
 public:
  static constexpr uint32_t kKeySize = 20;
  static constexpr uint32_t kRequestTypeHash = 2;
  static constexpr uint32_t kRequestTypeVendor = 5;
  static constexpr uint8_t kProtocolVersion = 4;
  static constexpr uint8_t kProductCode = 101;
  // Header bytes before the keys of a request: type, number, count, zero, version, product,
  // client id, tag.
  static constexpr uint32_t kRequestHeaderSize = 26;

  struct CRequest {
    uint8_t Key[kKeySize];
  };

#pragma pack(push, 4)
  // The answer to one hash request; Date is in seconds since 1970 (0 = none).
  struct CResponceHt {
    int32_t FlsVerdict;
    int32_t LumenVerdict;
    uint32_t AuxValue;
    uint64_t Date;
  };
#pragma pack(pop)

  // The answer to one vendor request.
  struct CResponceTv {
    int32_t SignerVerdict;
  };

  // Copied into every pipeline and written into every request.
  struct CProtocolSettings {
    uint8_t ProtocolVersion = kProtocolVersion;
    uint8_t ClientId[16] = {};
  };

  // The next value of the process-wide sequence counter (the first message carries 1). Never 0:
  // an answer's leading zero word would hide that number.
  static uint32_t NextSequenceNumber();

  // The process-wide product code written into every request; the lookup phase sets it once
  // before it starts the client.
  static void SetProductCode(uint8_t code);
  static uint8_t GetProductCode();

  const CProtocolSettings& GetProtocolSettings() const { return settings_; }

 protected:
  CProtocolSettings settings_;
};

static_assert(sizeof(CSafetyLookupClientBase::CRequest) == 20, "keys travel as 20 bytes");
static_assert(sizeof(CSafetyLookupClientBase::CResponceHt) == 20, "a hash answer record is 20 bytes");

// Verdict values the system itself relies on.
constexpr int32_t kFlsVerdictUnknown = 3;  // preset of every hash answer
constexpr int32_t kSignerVerdictUnknown = 0;  // preset of every vendor answer

// Writes one request message: type, sequence number, count, zero, version, product code, client
// id, low byte of the tag, then the count keys. count must be 1..255.
void EncodeRequest(CSerializationWriter& writer, uint32_t requestType, uint32_t sequenceNumber,
                   const CSafetyLookupClientBase::CProtocolSettings& settings, uint32_t requestTag,
                   const CSafetyLookupClientBase::CRequest* keys, uint32_t count);

// Reads the sequence number that opens an answer; four leading zero bytes are skipped once.
uint32_t ReadResponseSequenceNumber(CSerializationReader& reader);

// Reads the count byte and count answer entries into out. A count other than the expected one
// throws CKalException "Invalid data"; missing bytes throw the need-more-data exception, after
// which out holds partial answers and the message must be parsed again from its start.
void DecodeResponses(CSerializationReader& reader, uint32_t expectedCount,
                     CSafetyLookupClientBase::CResponceHt* out);
void DecodeResponses(CSerializationReader& reader, uint32_t expectedCount,
                     CSafetyLookupClientBase::CResponceTv* out);

// Sizes of a complete answer message without the optional leading zero word.
constexpr uint32_t kHashEntrySize = 14;
constexpr uint32_t kVendorEntrySize = 1;
constexpr uint32_t ResponseSize(uint32_t entrySize, uint32_t count) { return 4 + 1 + entrySize * count; }

}  // namespace kal
