// The registered service's command line: every composition rule as a table of option sets, the
// quoting read back by the platform's argument parser, and the program-path buffer rule.
#include "control/service_command_line.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <vector>

#include "control/options.h"
#include "support/handles.h"

namespace kal {
namespace {

const wchar_t kProgram[] = L"C:\\Program Files\\vantorag\\vantorag.exe";

std::wstring Compose(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"vantorag.exe");
  std::vector<wchar_t*> argv;
  for (std::wstring& a : args) argv.push_back(&a[0]);
  RunConfig config;
  StateRecord state;
  EXPECT_TRUE(SUCCEEDED(ParseOptions(static_cast<int>(argv.size()), argv.data(), config, state)));
  return ComposeServiceCommandLine(kProgram, config, state.StatePath);
}

// The arguments the platform's parser reads from a command line (the program name first).
std::vector<std::wstring> Split(const std::wstring& line) {
  int count = 0;
  CLocalMem memory(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(line.c_str(), &count)));
  std::vector<std::wstring> args;
  auto* argv = static_cast<wchar_t**>(memory.Get());
  for (int i = 0; argv && i < count; ++i) args.push_back(argv[i]);
  return args;
}

TEST(ComposeServiceCommandLine, EveryRule) {
  const std::wstring head = std::wstring(L"\"") + kProgram + L"\" --service";
  const std::wstring paths = L" --scope \"processes\" --status \"s.txt\" --output \"r.xml\"";
  const std::wstring switches = L" --impersonate=\"off\" --scanPeOnly=\"on\" --flsTcp=\"on\" --flsUdp=\"on\"";
  const std::wstring ports = L" --flsTcpPort \"4442\"";
  const std::wstring filter = std::wstring(L" --filter \"") + kDefaultFilterText + L"\"";
  const std::vector<std::wstring> base = {L"--scope=processes", L"--status=s.txt", L"--output=r.xml"};
  struct Case {
    const char* name;
    std::vector<std::wstring> extra;
    std::wstring expected;
  };
  const Case cases[] = {
      // Defaults
      {"defaults", {}, head + paths + switches + ports + filter},
      {"errors", {L"--errors"}, head + L" --errors" + paths + switches + ports + filter},
      {"skip assembly cache", {L"--skipGAC"}, head + L" --skipGAC" + paths + switches + ports + filter},
      // Filter
      {"empty filter writes none", {L"--filter="}, head + paths + switches + ports},
      {"own filter", {L"--filter=*.exe|*.dll"}, head + paths + switches + ports + L" --filter \"*.exe|*.dll\""},
      // Vendor lists
      {"trlDownload without tvl writes neither", {L"--trlDownload"}, head + paths + switches + ports + filter},
      {"trl file without tvl writes neither", {L"--trl=r.lst"}, head + paths + switches + ports + filter},
      {"tvl downloads by default", {L"--tvl=t.lst"},
       head + paths + L" --tvl \"t.lst\" --trlDownload" + switches + ports + filter},
      {"tvl then trlNone", {L"--tvl=t.lst", L"--trlNone"},
       head + paths + L" --tvl \"t.lst\" --trlNone" + switches + ports + filter},
      {"tvl with a trl file", {L"--trl=r.lst", L"--tvl=t.lst"},
       head + paths + L" --tvl \"t.lst\" --trl \"r.lst\"" + switches + ports + filter},
      {"tvl with an empty trl file", {L"--tvl=t.lst", L"--trl="},
       head + paths + L" --tvl \"t.lst\"" + switches + ports + filter},
      // Statistics file, switches, ports
      {"flsStat", {L"--flsStat=f.txt"}, head + paths + L" --flsStat \"f.txt\"" + switches + ports + filter},
      {"switches flipped", {L"--impersonate", L"--scanPeOnly=off", L"--flsTcp=OFF", L"--flsUdp=off"},
       head + paths + L" --impersonate=\"on\" --scanPeOnly=\"off\" --flsTcp=\"off\" --flsUdp=\"off\"" + ports + filter},
      {"tcp port 0 writes none", {L"--flsTcpPort=0"}, head + paths + switches + filter},
      {"both ports", {L"--flsTcpPort=70000", L"--flsUdpPort=4447"},
       head + paths + switches + L" --flsTcpPort \"4464\" --flsUdpPort \"4447\"" + filter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> args = base;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(c.expected, Compose(args));
  }
}

TEST(ComposeServiceCommandLine, EmptyPathsAreStillWritten) {
  RunConfig config;
  config.FilterText.clear();
  EXPECT_EQ(std::wstring(L"\"x.exe\" --service --scope \"\" --status \"\" --output \"\" --impersonate=\"off\" "
                         L"--scanPeOnly=\"on\" --flsTcp=\"on\" --flsUdp=\"on\" --flsTcpPort \"4442\""),
            ComposeServiceCommandLine(L"x.exe", config, L""));
}

// Values that would break plain quotes: a trailing backslash and embedded quotes.
TEST(ComposeServiceCommandLine, EveryValueReadsBackUnchanged) {
  const wchar_t* values[] = {
      L"C:\\data\\", L"C:\\data\\\\", L"say \"hi\"", L"a\\\"b", L"\\\\server\\share\\", L"plain value",
      L"", L"\"", L"\\",
  };
  for (const wchar_t* value : values) {
    SCOPED_TRACE(testing::Message() << "value [" << value << "]");
    RunConfig config;
    config.ScopeText = config.OutputPath = config.TvlPath = config.TrlPath = config.FlsStatPath = value;
    config.FilterText = std::wstring(L"x") + value;  // an empty filter would write none
    config.TrlMode = TrlSource::File;
    const std::vector<std::wstring> args = Split(ComposeServiceCommandLine(kProgram, config, value));
    std::vector<std::wstring> expected = {kProgram, L"--service", L"--scope", value, L"--status", value,
                                          L"--output", value};
    if (*value) expected.insert(expected.end(), {L"--tvl", value, L"--trl", value, L"--flsStat", value});
    expected.insert(expected.end(), {L"--impersonate=off", L"--scanPeOnly=on", L"--flsTcp=on", L"--flsUdp=on",
                                     L"--flsTcpPort", L"4442", L"--filter", config.FilterText});
    EXPECT_EQ(expected, args);
  }
}

TEST(GetProgramPath, PathThatFillsTheBufferFails) {
  std::wstring path;
  ASSERT_EQ(S_OK, GetProgramPath(&path));
  wchar_t own[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, own, MAX_PATH));
  EXPECT_EQ(std::wstring(own), path);

  const DWORD length = static_cast<DWORD>(path.size());
  std::wstring cut = L"sentinel";
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), GetProgramPath(&cut, length));
  EXPECT_EQ(L"", cut);
  EXPECT_EQ(S_OK, GetProgramPath(&cut, length + 1));
  EXPECT_EQ(path, cut);

  RunConfig config;
  std::wstring line;
  ASSERT_EQ(S_OK, ComposeServiceCommandLine(config, L"s.txt", &line));
  EXPECT_EQ(ComposeServiceCommandLine(path, config, L"s.txt"), line);
}

}  // namespace
}  // namespace kal
