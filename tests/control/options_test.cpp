// The option reader: syntax rules of the long options, mode conflicts, scope and filter parsing.
#include "control/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace kal {
namespace {

struct Parsed {
  HRESULT hr;
  RunConfig config;
  StateRecord state;
};

void Parse(const std::vector<std::wstring>& args, Parsed* out) {
  std::vector<wchar_t*> argv;
  std::vector<std::wstring> storage = args;
  storage.insert(storage.begin(), L"vantorag.exe");
  for (std::wstring& a : storage) argv.push_back(&a[0]);
  out->hr = ParseOptions(static_cast<int>(argv.size()), argv.data(), out->config, out->state);
}

struct SyntaxCase {
  const char* name;
  std::vector<std::wstring> args;
  HRESULT hr;
  std::function<void(const Parsed&)> check;
};

TEST(ParseOptions, SyntaxRules) {
  const SyntaxCase cases[] = {
      // Prefixes and exact matches
      {"prefix of one name", {L"--out=report.xml"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"report.xml", p.config.OutputPath); }},
      {"exact match beside longer names", {L"--trl=list.txt"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(TrlSource::File, p.config.TrlMode);
         EXPECT_EQ(L"list.txt", p.config.TrlPath);
       }},
      {"ambiguous prefix skipped", {L"--s=x", L"--fls", L"--output=a"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(L"a", p.config.OutputPath);
         EXPECT_EQ(L"", p.state.StatePath);
         EXPECT_TRUE(p.config.FlsUdp);
       }},
      {"names are case-sensitive", {L"--Output=x"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"", p.config.OutputPath); }},
      // Malformed options are skipped, reading goes on
      {"unknown option and single-dash cluster", {L"--bogus", L"-xyz", L"--status=s.txt"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"s.txt", p.state.StatePath); }},
      {"value given to a plain option", {L"--errors=1", L"--skipGAC"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_FALSE(p.config.RecordErrors);
         EXPECT_TRUE(p.config.SkipGac);
       }},
      {"required value missing at the end", {L"--output"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"", p.config.OutputPath); }},
      // Required values: the next argument whatever it looks like
      {"next argument taken", {L"--output", L"--status"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(L"--status", p.config.OutputPath);
         EXPECT_EQ(L"", p.state.StatePath);
       }},
      {"empty value after =", {L"--filter="}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"", p.config.FilterText); }},
      {"last value wins", {L"--output=a", L"--output=b", L"--filter=*.x", L"--filter=*.y"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(L"b", p.config.OutputPath);
         EXPECT_EQ(L"*.y", p.config.FilterText);
       }},
      // Optional values: only after "="
      {"optional value not taken from next argument", {L"--flsUdp", L"off"}, S_FALSE,
       [](const Parsed& p) { EXPECT_TRUE(p.config.FlsUdp); }},
      {"off in any case", {L"--flsTcp=OFF", L"--flsUdp=oFf", L"--impersonate=off", L"--scanPeOnly=Off"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_FALSE(p.config.FlsTcp);
         EXPECT_FALSE(p.config.FlsUdp);
         EXPECT_FALSE(p.config.Impersonate);
         EXPECT_FALSE(p.config.ScanPeOnly);
       }},
      {"other values leave the switch on", {L"--flsTcp=0", L"--flsUdp=no", L"--impersonate=", L"--scanPeOnly"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_TRUE(p.config.FlsTcp);
         EXPECT_TRUE(p.config.FlsUdp);
         EXPECT_TRUE(p.config.Impersonate);
         EXPECT_TRUE(p.config.ScanPeOnly);
       }},
      // Ports: decimal, leading space and sign, modulo 65536
      {"port modulo 65536", {L"--flsTcpPort=65536", L"--flsUdpPort=70000"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(0, p.config.FlsTcpPort);
         EXPECT_EQ(4464, p.config.FlsUdpPort);
       }},
      {"port with space, sign and trailing text", {L"--flsTcpPort=  +80x", L"--flsUdpPort=-1"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_EQ(80, p.config.FlsTcpPort);
         EXPECT_EQ(65535, p.config.FlsUdpPort);
       }},
      {"port without digits", {L"--flsTcpPort=abc"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(0, p.config.FlsTcpPort); }},
      // Non-options are skipped; "--" ends the reading
      {"non-option skipped", {L"report", L"--output=a.xml"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"a.xml", p.config.OutputPath); }},
      {"double dash ends the reading", {L"--output=a", L"--", L"--status=s"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(L"", p.state.StatePath); }},
      // Vendor-list switches: order matters
      {"tvl after trlNone downloads", {L"--trlNone", L"--tvl=v.txt"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(TrlSource::Download, p.config.TrlMode); }},
      {"trlNone after tvl stays off", {L"--tvl=v.txt", L"--trlNone"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(TrlSource::None, p.config.TrlMode); }},
      {"tvl keeps an explicit file", {L"--trl=r.txt", L"--tvl=v.txt"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(TrlSource::File, p.config.TrlMode); }},
      // Modes
      {"unregService ends the reading", {L"--unregService", L"--service"}, S_OK,
       [](const Parsed& p) { EXPECT_EQ(RunMode::UnregisterService, p.config.Mode); }},
      {"second mode option", {L"--service", L"--unregService"}, E_INVALIDARG, nullptr},
      {"service then sendStop", {L"--service", L"--sendStop"}, E_INVALIDARG, nullptr},
      {"regService twice", {L"--regService", L"--regService"}, E_INVALIDARG, nullptr},
      {"sendStop", {L"--sendStop"}, S_FALSE,
       [](const Parsed& p) { EXPECT_EQ(RunMode::SendStop, p.config.Mode); }},
      // Scope values
      {"empty scope", {L"--scope="}, E_INVALIDARG, nullptr},
      {"blank scope tokens", {L"--scope= | |"}, E_INVALIDARG, nullptr},
      {"scope flags ignore case", {L"--scope=PROCESSES| drivers |AutoRuns"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_TRUE(p.config.ScanProcesses);
         EXPECT_TRUE(p.config.ScanDrivers);
         EXPECT_TRUE(p.config.ScanAutoruns);
         EXPECT_EQ(L"PROCESSES| drivers |AutoRuns", p.config.ScopeText);
       }},
      {"scopes add up, text keeps the last", {L"--scope=processes", L"--scope=drivers"}, S_FALSE,
       [](const Parsed& p) {
         EXPECT_TRUE(p.config.ScanProcesses);
         EXPECT_TRUE(p.config.ScanDrivers);
         EXPECT_EQ(L"drivers", p.config.ScopeText);
       }},
      {"missing path only", {L"--scope=C:\\no\\such\\folder"}, E_INVALIDARG, nullptr},
  };
  for (const SyntaxCase& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p;
    Parse(c.args, &p);
    EXPECT_EQ(c.hr, p.hr);
    if (c.check && p.hr == c.hr) c.check(p);
  }
}

TEST(ParseOptions, Defaults) {
  Parsed p;
  Parse({}, &p);
  EXPECT_EQ(S_FALSE, p.hr);
  EXPECT_EQ(RunMode::Scan, p.config.Mode);
  EXPECT_EQ(L"*.exe|*.dll|*.sys|*.ocx|*.vbs|*.pif|*.hta|*.htr|*.bat|*.cmd|*.jar|*.java|*.scr|*.class|*.msi",
            p.config.FilterText);
  EXPECT_EQ(92u, p.config.FilterText.size());
  EXPECT_TRUE(p.config.FlsTcp);
  EXPECT_TRUE(p.config.FlsUdp);
  EXPECT_EQ(4442, p.config.FlsTcpPort);
  EXPECT_EQ(0, p.config.FlsUdpPort);
  EXPECT_TRUE(p.config.ScanPeOnly);
  EXPECT_FALSE(p.config.Impersonate);
  EXPECT_EQ(TrlSource::None, p.config.TrlMode);
}

class ParseScopeTest : public ::testing::Test {
 protected:
  test::CTempDir dir_;
};

TEST_F(ParseScopeTest, FileSystemEntries) {
  const std::wstring folder = dir_.Path();
  const std::wstring file = dir_.WriteFile(L"one.exe", "MZ");
  ::SetEnvironmentVariableW(L"VANTORAG_TEST_DIR", folder.c_str());

  RunConfig config;
  ASSERT_TRUE(ParseScope(config, L"%VANTORAG_TEST_DIR%|" + file + L"|" + folder + L"\\*.dll|*.exe|?:\\x\\*.sys|" +
                                     folder + L"\\missing"));
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> got;  // key -> (path, mask)
  for (const auto& entry : config.ScopeEntries) got[entry.first] = {entry.second.Path, entry.second.Mask};

  auto lower = [](std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
  };
  // "?:\x" is an ordinary path that does not exist, so that token is dropped like the missing folder.
  const std::map<std::wstring, std::pair<std::wstring, std::wstring>> want = {
      {lower(folder), {folder, L"*.*"}},                 // a folder: every file
      {lower(file), {file, L""}},                        // a single file keeps an empty mask
      {lower(folder + L"\\*.dll"), {folder, L"*.dll"}},  // a folder with its mask
      {L"*.exe", {L"?:", L"*.*"}},                       // no folder: every drive, mask "*.*"
  };
  EXPECT_EQ(want, got);
}

TEST_F(ParseScopeTest, FirstOccurrenceWinsIgnoringCase) {
  const std::wstring sub = dir_.MakeFolder(L"Temp");
  std::wstring upper = sub;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  RunConfig config;
  ASSERT_TRUE(ParseScope(config, sub + L"|" + upper));
  ASSERT_EQ(1u, config.ScopeEntries.size());
  EXPECT_EQ(sub, config.ScopeEntries.begin()->second.Path);
}

TEST(ParseFilter, SplitsAndTrims) {
  RunConfig config;
  EXPECT_FALSE(ParseFilter(config, L"   "));
  EXPECT_TRUE(config.FilterMasks.empty());
  EXPECT_TRUE(ParseFilter(config, L" *.exe || *.dll |"));
  EXPECT_THAT(config.FilterMasks, ::testing::ElementsAre(L"*.exe", L"*.dll"));
}

}  // namespace
}  // namespace kal
