// The service check and the watcher against a stand-in "CryptSvc" registered disabled for the
// test (Wine has no such service): it is set to demand start, started, and the worker's
// catalogs-available flag follows.
#include "analysis/service_watcher.h"

#include <gtest/gtest.h>

#include <vector>

#include "analysis/signing_worker.h"
#include "support/handles.h"
#include "test_support/fixture_path.h"

namespace kal::cryptography {
namespace {

DWORD StartType(SC_HANDLE service) {
  DWORD needed = 0;
  ::QueryServiceConfigW(service, nullptr, 0, &needed);
  std::vector<uint8_t> buffer(needed + 16);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed)) return 0xFFFFFFFF;
  return config->dwStartType;
}

DWORD State(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  return ::QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

void StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && State(service) != SERVICE_STOPPED && State(service) != 0; ++i) ::Sleep(100);
}

// Registers the stand-in under the service's name, disabled; removes it at the end.
class StandInCryptService : public testing::Test {
 protected:
  void SetUp() override {
    manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_);
    RemoveLeftover();
    const std::wstring command = L"\"" + test::FixturePath(L"stand_in_service.exe") + L"\"";
    service_.Reset(::CreateServiceW(manager_.Get(), kCryptServiceName, L"Stand-in cryptographic service",
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
                                    SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr, nullptr,
                                    nullptr));
    ASSERT_TRUE(service_) << ::GetLastError();
  }
  void TearDown() override {
    if (!service_) return;
    StopAndWait(service_.Get());
    ::DeleteService(service_.Get());
  }
  void RemoveLeftover() {
    CServiceHandle old(::OpenServiceW(manager_.Get(), kCryptServiceName, SERVICE_ALL_ACCESS));
    if (!old) return;
    StopAndWait(old.Get());
    ::DeleteService(old.Get());
  }

  CServiceHandle manager_;
  CServiceHandle service_;
};

TEST_F(StandInCryptService, DisabledServiceIsSetToDemandStartAndStarted) {
  ASSERT_EQ(static_cast<DWORD>(SERVICE_DISABLED), StartType(service_.Get()));
  ASSERT_TRUE(EnsureServiceRunning(kCryptServiceName));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), StartType(service_.Get()));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service_.Get()));
  // Running already: success at once, nothing changed.
  EXPECT_TRUE(EnsureServiceRunning(kCryptServiceName));
}

TEST_F(StandInCryptService, WatcherSetsTheCatalogsFlag) {
  CSigningWorker worker;  // the platform's sources: the check of "CryptSvc"
  EXPECT_FALSE(worker.CatalogsAvailable());
  ASSERT_TRUE(worker.Start());
  for (int i = 0; i < 100 && !worker.CatalogsAvailable(); ++i) ::Sleep(100);
  EXPECT_TRUE(worker.CatalogsAvailable());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service_.Get()));
}

TEST(ServiceWatcher, FailsForServicesThatCannotRun) {
  EXPECT_FALSE(EnsureServiceRunning(L"VantoragNoSuchService"));

  // A service whose program does not exist cannot be started.
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  const wchar_t* name = L"VantoragBrokenService";
  CServiceHandle old(::OpenServiceW(manager.Get(), name, DELETE));
  if (old) ::DeleteService(old.Get());
  CServiceHandle broken(::CreateServiceW(manager.Get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                         L"C:\\vantorag\\no_such_program.exe", nullptr, nullptr, nullptr, nullptr,
                                         nullptr));
  ASSERT_TRUE(broken);
  EXPECT_FALSE(EnsureServiceRunning(name));
  ::DeleteService(broken.Get());
}

}  // namespace
}  // namespace kal::cryptography
