// Framing answers in the received bytes: the sequence number (after an optional zero word), then
// whatever the named pack's decoder reads.
#include "lookup/answer_buffer.h"

#include "lookup/wire_format.h"

namespace kal {

namespace {
void Rewind(CMemoryStream& stream) {
  if (stream.GetSize() != 0) stream.SetPosition(0);
}
}  // namespace

uint8_t* CAnswerBuffer::Reserve(uint32_t count) {
  reservedAt_ = stream_.GetSize();
  if (reservedAt_ != 0) {  // the cursor can't be set to the end itself: step over the last byte
    uint8_t last;
    stream_.SetPosition(reservedAt_ - 1);
    stream_.Read(&last, 1, 0);
  }
  stream_.Fill(0, count);
  return stream_.GetBuffer() + reservedAt_;
}

void CAnswerBuffer::Commit(uint32_t received) {
  stream_.Truncate(reservedAt_ + received);
  Rewind(stream_);
}

CAnswerBuffer::Parsed CAnswerBuffer::ParseOne(const Decoder& decode, uint32_t* sequence) {
  CSerializationReader reader(&stream_);
  Parsed parsed;
  *sequence = 0;  // never a request's number
  try {
    *sequence = ReadResponseSequenceNumber(reader);
    if (!decode(*sequence, reader)) {
      stream_.Truncate(0);
      return Parsed::Dropped;
    }
    parsed = Parsed::Answer;
  } catch (const CSerializationReaderNeedMoreDataException&) {
    Rewind(stream_);
    return Parsed::Partial;
  } catch (const CKalException&) {
    parsed = Parsed::Failed;
  }
  if (stream_.GetPosition() < stream_.GetSize())
    stream_.Compact();
  else
    stream_.Truncate(0);
  return parsed;
}

}  // namespace kal
