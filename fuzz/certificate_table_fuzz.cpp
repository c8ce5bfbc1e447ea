// Fuzzes the certificate-table walk over arbitrary bytes: no input may read outside the bytes
// given, and every noted entry must lie inside the table and the file, 8-byte aligned after the
// first, at most five of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analysis/certificate_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kal::CMemoryByteSource source(data, size);
  kal::CertificateTableLocation location;
  const bool located = kal::LocateCertificateTable(source, &location);
  const kal::CertificateEntries found = kal::FindCertificateEntries(source);
  if (!located && found.count != 0) std::abort();
  if (found.count > kal::kMaxCertificateEntries) std::abort();
  const uint64_t tableEnd = uint64_t{location.offset} + location.size;
  for (unsigned i = 0; i < found.count; ++i) {
    const kal::CertificateEntry& entry = found.entries[i];
    if (entry.length < kal::kMinCertificateEntryLength) std::abort();
    if (uint64_t{entry.offset} + entry.length > tableEnd || tableEnd > size) std::abort();
    if (entry.offset < location.offset || (entry.offset - location.offset) % 8 != 0) std::abort();
    if (i > 0 && entry.offset <= found.entries[i - 1].offset) std::abort();
  }
  return 0;
}
