// The lookup statistics file: two UTF-8 lines telling how many lookup messages went out and how
// many answers came back on each channel, written once after the last batch.
#pragma once

#include <cstdint>
#include <string>

#include "control/lookup_client.h"

namespace kal {

struct ChannelCounts {
  uint64_t UdpSent = 0;
  uint64_t UdpReceived = 0;
  uint64_t TcpSent = 0;
  uint64_t TcpReceived = 0;
};

// The header line and the value line, each ended by LF; at most 1023 bytes (longer text is cut).
std::string FormatStatistics(const std::string& computerUtf8, const std::string& timeUtf8,
                             const ChannelCounts& counts);

// The counters of both channels; a channel not in use counts 0 and 0.
ChannelCounts ReadChannelCounts(ILookupClient& client);

// Writes path from the client's counters, the computer name and the current UTC time. Failures
// are silent: nothing is written and the run goes on.
void WriteStatistics(const std::wstring& path, ILookupClient& client);

}  // namespace kal
