// Writing the lookup statistics file.
#include "control/statistics_file.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "report/computer_description.h"
#include "support/handles.h"

namespace kal {
namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
  return out;
}

std::wstring UtcNow() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  wchar_t text[32];
  std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  return text;
}

}  // namespace

std::string FormatStatistics(const std::string& computerUtf8, const std::string& timeUtf8,
                             const ChannelCounts& counts) {
  char text[1024];
  const int length = std::snprintf(text, sizeof(text),
                                   "Computer;IsoTimestamp;UdpSent;UdpReceived;TcpSent;TcpReceived\n"
                                   "%s;%s;%" PRId64 ";%" PRId64 ";%" PRId64 ";%" PRId64 "\n",
                                   computerUtf8.c_str(), timeUtf8.c_str(), static_cast<int64_t>(counts.UdpSent),
                                   static_cast<int64_t>(counts.UdpReceived), static_cast<int64_t>(counts.TcpSent),
                                   static_cast<int64_t>(counts.TcpReceived));
  if (length < 0) return std::string();
  return std::string(text, static_cast<size_t>(length) < sizeof(text) ? static_cast<size_t>(length) : sizeof(text) - 1);
}

ChannelCounts ReadChannelCounts(ILookupClient& client) {
  ChannelCounts counts;
  uint64_t sent = 0, received = 0;
  if (client.GetStatistics(kChannelUdp, &sent, &received)) {
    counts.UdpSent = sent;
    counts.UdpReceived = received;
  }
  sent = received = 0;
  if (client.GetStatistics(kChannelTcp, &sent, &received)) {
    counts.TcpSent = sent;
    counts.TcpReceived = received;
  }
  return counts;
}

void WriteStatistics(const std::wstring& path, ILookupClient& client) {
  ComputerDescription computer;
  if (FAILED(GatherComputer(&computer))) return;
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string text = FormatStatistics(ToUtf8(computer.Name), ToUtf8(UtcNow()), ReadChannelCounts(client));
  DWORD written = 0;
  ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace kal
