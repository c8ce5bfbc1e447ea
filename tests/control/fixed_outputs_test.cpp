// What the program writes for fixed inputs, byte for byte against files kept in the source tree:
// the 32-bit and the x64 build compare against the same files, so both write the same bytes.
// VANTORAG_WRITE_GOLDEN=1 rewrites the files instead (after a deliberate format change).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/state_file.h"
#include "control/statistics_file.h"
#include "lookup/memory_stream.h"
#include "lookup/serialization.h"
#include "lookup/wire_format.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFileBytes(const std::wstring& path) {
  const std::string bytes = test::CTempDir::ReadFile(path);
  return Bytes(bytes.begin(), bytes.end());
}

bool WriteGolden() {
  wchar_t flag[4] = {};
  return ::GetEnvironmentVariableW(L"VANTORAG_WRITE_GOLDEN", flag, 4) && std::wstring(flag) == L"1";
}

void ExpectGolden(const wchar_t* name, const Bytes& bytes) {
  const std::wstring path = std::wstring(VANTORAG_GOLDEN_DIR) + L"\\" + name;
  if (WriteGolden()) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  const Bytes golden = ReadFileBytes(path);
  ASSERT_FALSE(golden.empty()) << "no file " << testing::PrintToString(path);
  EXPECT_EQ(golden, bytes);
}

TEST(FixedOutputs, StateFile) {
  StateRecord state;
  state.Phase = 8;
  state.FilesFound = 4000000000u;
  state.BytesFound = 0x123456789ABCull;
  state.FilesProcessed = 7;
  state.BytesProcessed = 1;
  state.CountUnknown = 2;
  state.CountDoesntExist = 3;
  state.CountError = 4;
  state.HashFailures = 5;
  state.CountSafe = 6;
  state.CountMalware = 8;
  state.Skipped = 9;
  state.CountServerError = 10;
  state.ErrorText = L"Error 0x80070005";
  test::CTempDir dir;
  const std::wstring path = dir.Path() + L"\\state.txt";
  ASSERT_EQ(S_OK, WriteStateFileOnTaskThread(path, FormatStateLine(state)));
  ExpectGolden(L"state.bin", ReadFileBytes(path));
}

TEST(FixedOutputs, StatisticsFile) {
  ChannelCounts counts;
  counts.UdpSent = 5000000000ull;
  counts.UdpReceived = 4999999999ull;
  counts.TcpSent = 3;
  counts.TcpReceived = 0;
  const std::string text = FormatStatistics("M\xC3\x9CLLER-PC", "2026-12-10T16:45:00Z", counts);
  ExpectGolden(L"statistics.bin", Bytes(text.begin(), text.end()));
}

TEST(FixedOutputs, RequestMessages) {
  CSafetyLookupClientBase::CProtocolSettings settings;
  for (uint8_t i = 0; i < 16; ++i) settings.ClientId[i] = static_cast<uint8_t>(0xF0 + i);
  std::vector<CSafetyLookupClientBase::CRequest> keys(100);
  for (size_t k = 0; k < keys.size(); ++k)
    for (uint8_t i = 0; i < 20; ++i) keys[k].Key[i] = static_cast<uint8_t>(k * 20 + i);
  const struct {
    const wchar_t* file;
    uint32_t type;
    uint32_t count;
  } messages[] = {{L"hash_request.bin", CSafetyLookupClientBase::kRequestTypeHash, 100},
                  {L"vendor_request.bin", CSafetyLookupClientBase::kRequestTypeVendor, 3}};
  for (const auto& m : messages) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(m.file)));
    CMemoryStream stream;
    CSerializationWriter writer(&stream);
    EncodeRequest(writer, m.type, 0x01020304u, settings, 0x1FF, keys.data(), m.count);
    ExpectGolden(m.file, Bytes(stream.GetBuffer(), stream.GetBuffer() + stream.GetSize()));
  }
}

}  // namespace
}  // namespace kal
