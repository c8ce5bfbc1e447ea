// Fuzzes the PE header reader and the CLR test over arbitrary bytes: no input may read outside
// the bytes given (the sanitizers see any read past them), and the answers must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "analysis/pe_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool clr = kal::IsClrImage(data, size);
  kal::PeHeaders headers;
  const bool parsed = kal::ParsePeHeaders(data, size, &headers);
  if (clr && !parsed) std::abort();
  if (!parsed) return 0;
  if (headers.magic != kal::kPe32Magic && headers.magic != kal::kPe32PlusMagic) std::abort();
  kal::PeDataDirectory entry;
  for (unsigned index : {0u, kal::kPeDirectorySecurity, kal::kPeDirectoryClrRuntime, 15u,
                         headers.numberOfRvaAndSizes, 0xFFFFFFFFu}) {
    if (kal::GetPeDataDirectory(data, size, headers, index, &entry) &&
        index == kal::kPeDirectoryClrRuntime && clr != (entry.virtualAddress != 0) &&
        uint64_t{headers.ntOffset} + 248 <= size)
      std::abort();
  }
  return 0;
}
