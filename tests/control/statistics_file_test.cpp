// The statistics file: its exact two lines, the counters of a channel that is off, and the file
// written from a client's counters with the computer's name and the time.
#include "control/statistics_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "test_support/temp_dir.h"

namespace kal {
namespace {

// Counters per channel; a channel without an entry is off.
class CountingClient : public ILookupClient {
 public:
  bool udpOn = true, tcpOn = true;
  HRESULT Start(bool, bool, uint16_t, uint16_t) override { return S_OK; }
  HRESULT LookupHashes(uint32_t, const LookupKey*, HashVerdict*, uint32_t, uint32_t, uint32_t) override { return E_FAIL; }
  HRESULT LookupVendors(uint32_t, const LookupKey*, VendorVerdict*, uint32_t, uint32_t, uint32_t) override {
    return E_FAIL;
  }
  bool GetStatistics(uint32_t channel, uint64_t* sent, uint64_t* received) override {
    if (channel == kChannelUdp && udpOn) {
      *sent = 12;
      *received = 10;
      return true;
    }
    if (channel == kChannelTcp && tcpOn) {
      *sent = 5000000000ull;
      *received = 3;
      return true;
    }
    return false;
  }
  void Stop() override {}
};

TEST(StatisticsFile, ExactText) {
  ChannelCounts counts;
  counts.UdpSent = 101;
  counts.UdpReceived = 5;
  counts.TcpSent = 1ull << 40;
  counts.TcpReceived = 0;
  EXPECT_EQ(
      "Computer;IsoTimestamp;UdpSent;UdpReceived;TcpSent;TcpReceived\n"
      "M\xC3\x9C" "LLER;2022-02-16T00:47:54;101;5;1099511627776;0\n",
      FormatStatistics("M\xC3\x9CLLER", "2022-02-16T00:47:54", counts));
  // At most 1023 bytes, whatever the name.
  EXPECT_EQ(1023u, FormatStatistics(std::string(2000, 'N'), "t", counts).size());
}

TEST(StatisticsFile, ChannelsThatAreOffCountZero) {
  CountingClient client;
  client.udpOn = false;
  const ChannelCounts counts = ReadChannelCounts(client);
  EXPECT_EQ(0u, counts.UdpSent);
  EXPECT_EQ(0u, counts.UdpReceived);
  EXPECT_EQ(5000000000ull, counts.TcpSent);
  EXPECT_EQ(3u, counts.TcpReceived);
}

TEST(StatisticsFile, WrittenFromTheClient) {
  test::CTempDir dir;
  CountingClient client;
  const std::wstring path = dir.Path() + L"\\stat.csv";
  WriteStatistics(path, client);
  const std::string text = test::CTempDir::ReadFile(path);
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(::GetComputerNameW(name, &length));
  std::string ascii(name, name + length);  // the Wine machine's name is ASCII
  const std::regex expected("Computer;IsoTimestamp;UdpSent;UdpReceived;TcpSent;TcpReceived\n" + ascii +
                            ";\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d;12;10;5000000000;3\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;

  // A path that can't be created writes nothing and fails quietly.
  WriteStatistics(dir.Path() + L"\\missing\\stat.csv", client);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((dir.Path() + L"\\missing").c_str()));
}

}  // namespace
}  // namespace kal
