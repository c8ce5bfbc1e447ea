// The module's service side in process: the control handler's effect on the service status, the
// flags and the run event; a pause that arrives as the service reports itself running; and
// registration under a private service name, read back from the service manager.
#include "control/vantorag_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "control/log_event.h"
#include "control/options.h"
#include "control/scan_run.h"
#include "control/service_command_line.h"
#include "control/service_messages.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

bool IsSignalled(const CEvent& event) { return ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0; }

TEST(VantoragModule, InitialServiceStatus) {
  CvantoragModule module;
  const SERVICE_STATUS s = module.ServiceStatus();
  EXPECT_EQ(L"vantorag", module.ServiceName());
  EXPECT_EQ(0x10u, s.dwServiceType);
  EXPECT_EQ(1u, s.dwCurrentState);
  EXPECT_EQ(3u, s.dwControlsAccepted);
  EXPECT_EQ(0u, s.dwWin32ExitCode + s.dwServiceSpecificExitCode + s.dwCheckPoint + s.dwWaitHint);
  EXPECT_TRUE(module.RunAsService());  // until the options are read
}

// The handler thread's side, control by control.
TEST(VantoragModule, HandlerControls) {
  CvantoragModule module;
  RunConfig& config = module.Config();
  ASSERT_EQ(S_OK, module.Context().CreateRunEvent());
  std::vector<std::wstring> logged;
  SetLogEventObserver([&logged](const std::wstring& text) { logged.push_back(text); });

  struct Step {
    DWORD control;
    DWORD state;
    LONG pause, stop;
    bool runEvent;
  };
  const Step steps[] = {
      {SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_PENDING, 1, 0, false},
      {SERVICE_CONTROL_INTERROGATE, SERVICE_PAUSE_PENDING, 1, 0, false},
      {SERVICE_CONTROL_CONTINUE, SERVICE_CONTINUE_PENDING, 0, 0, true},
      {SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_PENDING, 1, 0, false},
      {SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, 1, 1, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "control " << step.control);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), module.Handler(step.control));
    EXPECT_EQ(step.state, module.ServiceStatus().dwCurrentState);
    EXPECT_EQ(step.pause, config.PauseRequested.load());
    EXPECT_EQ(step.stop, config.StopRequested.load());
    EXPECT_EQ(step.runEvent, IsSignalled(config.RunEvent));
  }
  EXPECT_TRUE(logged.empty());

  // A second pause while one is requested changes nothing, not even the run event.
  CvantoragModule paused;
  ASSERT_EQ(S_OK, paused.Context().CreateRunEvent());
  paused.OnPause();
  ::SetEvent(paused.Config().RunEvent.Get());
  paused.Handler(SERVICE_CONTROL_PAUSE);
  EXPECT_TRUE(IsSignalled(paused.Config().RunEvent));

  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), module.Handler(200));
  EXPECT_EQ(std::vector<std::wstring>{L"Bad service request"}, logged);
  SetLogEventObserver(nullptr);
}

// The scanning thread reports paused and running; neither may turn a stop back.
TEST(VantoragModule, PauseReportsDoNotUndoAStop) {
  CvantoragModule module;
  test::CTempDir dir;
  module.State().StatePath = dir.Path() + L"\\s.txt";
  ASSERT_EQ(S_OK, module.Context().CreateRunEvent());
  module.OnPause();
  module.OnStop();
  EXPECT_EQ(E_ABORT, module.Context().Checkpoint());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), module.ServiceStatus().dwCurrentState);
}

// Stands in for the service manager's view: the pause request comes in the moment the run
// reports the service running, before the scan's first item.
class PauseOnStart : public IServiceStatusReporter {
 public:
  explicit PauseOnStart(CvantoragModule& module) : module_(module) {}
  void ReportStarted() override { module_.Handler(SERVICE_CONTROL_PAUSE); }
  void ReportPaused() override { paused.fetch_add(1); }
  void ReportRunning() override { running.fetch_add(1); }
  std::atomic<int> paused{0}, running{0};

 private:
  CvantoragModule& module_;
};

TEST(VantoragModule, PauseAtServiceStartHoldsTheScan) {
  CvantoragModule module;
  test::CTempDir dir;
  module.State().StatePath = dir.Path() + L"\\s.txt";
  module.Config().ScanProcesses = true;
  module.Context().SetRunAsService(true);
  PauseOnStart reporter(module);
  module.Context().SetServiceStatusReporter(&reporter);

  std::atomic<int> items{0};
  CScanRun run(module.Context(), module.Items());
  run.PhaseFunctions().Processes = [&items](CRunContext& ctx, CScanItems&) {
    ctx.EnterPhase(kPhaseProcesses);
    for (;;) {
      const HRESULT hr = ctx.Checkpoint();
      if (FAILED(hr)) return hr;
      items.fetch_add(1);
      ::Sleep(1);
    }
  };
  bool reported = false;
  run.PhaseFunctions().Report = [&reported](CRunContext&, CScanItems&) {
    reported = true;
    return S_OK;
  };
  HRESULT result = E_FAIL;
  std::thread scan([&] { result = run.Run(); });

  for (int i = 0; i < 1000 && reporter.paused.load() == 0; ++i) ::Sleep(10);
  ::Sleep(300);
  EXPECT_EQ(1, reporter.paused.load());
  EXPECT_EQ(0, reporter.running.load());
  EXPECT_EQ(0, items.load()) << "the scan went on although paused";

  module.Handler(SERVICE_CONTROL_CONTINUE);
  for (int i = 0; i < 1000 && items.load() == 0; ++i) ::Sleep(10);
  EXPECT_GT(items.load(), 0);
  EXPECT_EQ(1, reporter.running.load());
  module.Handler(SERVICE_CONTROL_STOP);
  scan.join();
  EXPECT_EQ(S_OK, result);
  EXPECT_EQ(kPhaseStopped, module.State().Phase);
  EXPECT_FALSE(reported);
}

// Registration under a private name, so this test never meets the product's own service.
class ServiceRegistration : public ::testing::Test {
 protected:
  ServiceRegistration() : name_(L"vantorag_test_" + std::to_wstring(::GetCurrentProcessId())) {
    SetServiceMessageObserver([this](const std::wstring& text) { messages_.push_back(text); });
  }
  ~ServiceRegistration() override {
    SetServiceMessageObserver(nullptr);
    CvantoragModule cleanup(name_.c_str());
    cleanup.Uninstall();
  }

  // --regService or --unregService with `args` through a fresh module, as one process would.
  HRESULT RunMode(std::vector<std::wstring> args, const wchar_t* name = nullptr) {
    args.insert(args.begin(), L"vantorag.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    CvantoragModule module(name ? name : name_.c_str());
    HRESULT exitCode = 0x0bad0bad;
    EXPECT_FALSE(module.ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &exitCode));
    return exitCode;
  }

  std::wstring ExpectedLine(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"vantorag.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    CvantoragModule module(name_.c_str());
    ParseOptions(static_cast<int>(argv.size()), argv.data(), module.Config(), module.State());
    std::wstring line;
    EXPECT_EQ(S_OK, ComposeServiceCommandLine(module.Config(), module.State().StatePath, &line));
    return line;
  }

  // The registered configuration; false when the service does not exist.
  bool ReadConfig(QUERY_SERVICE_CONFIGW** config) {
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    CServiceHandle service(::OpenServiceW(manager.Get(), name_.c_str(), SERVICE_QUERY_CONFIG));
    openError_ = service ? 0 : ::GetLastError();
    if (!service) return false;
    DWORD needed = 0;
    ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
    buffer_.assign(needed + 16, 0);
    *config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer_.data());
    return ::QueryServiceConfigW(service.Get(), *config, static_cast<DWORD>(buffer_.size()), &needed) != 0;
  }

  std::wstring name_;
  std::vector<std::wstring> messages_;
  std::vector<uint8_t> buffer_;
  DWORD openError_ = 0;
};

TEST_F(ServiceRegistration, RegisterReplaceAndRemove) {
  const std::vector<std::wstring> first = {L"--regService", L"--scope=processes", L"--status=C:\\s.txt",
                                           L"--output=C:\\r.xml"};
  ASSERT_EQ(S_OK, RunMode(first));
  QUERY_SERVICE_CONFIGW* config = nullptr;
  ASSERT_TRUE(ReadConfig(&config)) << "error " << openError_ << ", messages " << messages_.size();
  EXPECT_EQ(ExpectedLine(first), config->lpBinaryPathName);
  EXPECT_EQ(0x10u, config->dwServiceType);
  EXPECT_EQ(3u, config->dwStartType);
  EXPECT_EQ(1u, config->dwErrorControl);
  EXPECT_EQ(name_, config->lpDisplayName);
  EXPECT_EQ(std::wstring(L"LocalSystem"), config->lpServiceStartName);

  // Install alone keeps an existing registration as it is.
  CvantoragModule other(name_.c_str());
  other.Config().ScopeText = L"drivers";
  EXPECT_TRUE(other.Install());
  ASSERT_TRUE(ReadConfig(&config));
  EXPECT_EQ(ExpectedLine(first), config->lpBinaryPathName);

  // A second --regService replaces it with its own options.
  const std::vector<std::wstring> second = {L"--regService", L"--errors", L"--scope=drivers",
                                            L"--status=C:\\data\\", L"--output=C:\\r2.xml", L"--filter="};
  ASSERT_EQ(S_OK, RunMode(second));
  ASSERT_TRUE(ReadConfig(&config));
  EXPECT_EQ(ExpectedLine(second), config->lpBinaryPathName);

  // --unregService removes it; a second one finds nothing, succeeds and shows nothing.
  EXPECT_EQ(S_OK, RunMode({L"--unregService"}));
  EXPECT_FALSE(ReadConfig(&config));
  EXPECT_EQ(S_OK, RunMode({L"--unregService", L"--bogus"}));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

// The service manager refuses the name: the box says so and the registration fails with E_FAIL.
TEST_F(ServiceRegistration, RefusedCreationShowsItsMessage) {
  const HRESULT hr = RunMode({L"--regService", L"--scope=processes", L"--status=s", L"--output=o"}, L"bad\\name");
  EXPECT_EQ(E_FAIL, hr);
  EXPECT_EQ(std::vector<std::wstring>{L"Could not start service"}, messages_);
}

TEST(ServiceMessages, EnglishFallbacksWithoutAStringTable) {
  const std::pair<UINT, const wchar_t*> texts[] = {
      {55306, L"Could not open Service Manager"}, {55307, L"Could not start service"},
      {55308, L"Could not open service"},         {55309, L"Could not delete service"},
      {55310, L"Could not stop service"},
  };
  for (const auto& t : texts) EXPECT_EQ(t.second, ServiceMessageText(t.first));
}

}  // namespace
}  // namespace kal
