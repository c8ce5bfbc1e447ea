// The worker thread: registration limits and errors, what Execute receives, timers, the order in
// which signalled clients run, and release of handles on removal and stop.
#include "lookup/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kal {
namespace {

constexpr HRESULT kInvalidParameter = static_cast<HRESULT>(0x80070057);

// Records every call; clients are declared before their worker so they outlive it.
template <typename Base>
class CRecordingClient : public Base {
 public:
  HRESULT Execute(DWORD_PTR param, HANDLE handle) override {
    lastParam = param;
    lastHandle = handle;
    lastThread = ::GetCurrentThreadId();
    if (hook) hook();
    ++calls;
    ::SetEvent(executed.Get());
    return E_FAIL;  // ignored by the worker
  }
  bool WaitExecuted(DWORD ms = 5000) { return ::WaitForSingleObject(executed.Get(), ms) == WAIT_OBJECT_0; }

  std::atomic<int> calls{0};
  DWORD_PTR lastParam = 0;
  HANDLE lastHandle = nullptr;
  DWORD lastThread = 0;
  std::function<void()> hook;
  CEvent executed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};
using CEventClient = CRecordingClient<CKalWorkerClientEvent>;
using CTimerClient = CRecordingClient<CKalWorkerClientTimer>;

TEST(WorkerThread, NotRunning) {
  CEventClient client;
  CKalWorkerThread worker;
  EXPECT_EQ(S_OK, worker.Shutdown(10000));
  EXPECT_EQ(E_UNEXPECTED, worker.AddHandle(&client, false, false, 0));
  EXPECT_FALSE(client.IsInitialized());
  ASSERT_EQ(S_OK, worker.Initialize());
  EXPECT_EQ(E_UNEXPECTED, worker.Initialize());
  EXPECT_EQ(S_OK, worker.Shutdown(10000));
  EXPECT_EQ(E_UNEXPECTED, worker.AddHandle(&client, false, false, 0));
  EXPECT_EQ(S_OK, worker.Shutdown(10000));
}

TEST(WorkerThread, ExecuteGetsParamAndHandleOnTheWorker) {
  CEventClient client;
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&client, false, false, 0xC0FFEE));
  ASSERT_TRUE(client.IsInitialized());
  const HANDLE event = client.GetHandle();
  EXPECT_EQ(0, client.calls);
  ::SetEvent(event);
  ASSERT_TRUE(client.WaitExecuted());
  EXPECT_EQ(DWORD_PTR{0xC0FFEE}, client.lastParam);
  EXPECT_EQ(event, client.lastHandle);
  EXPECT_NE(::GetCurrentThreadId(), client.lastThread);
  // a failed Execute changes nothing: the handle is still served
  ::SetEvent(event);
  ASSERT_TRUE(client.WaitExecuted());
  EXPECT_EQ(2, client.calls);
}

TEST(WorkerThread, InitiallySignalledEventRunsAtOnce) {
  CEventClient client;
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&client, false, true, 1));
  EXPECT_TRUE(client.WaitExecuted());
}

TEST(WorkerThread, SixtyTwoClientHandlesAndNoMore) {
  std::vector<std::unique_ptr<CEventClient>> clients;
  for (int i = 0; i < 64; ++i) clients.push_back(std::make_unique<CEventClient>());
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  for (int i = 0; i < 62; ++i) ASSERT_EQ(S_OK, worker.AddHandle(clients[i].get(), false, false, i)) << i;
  EXPECT_EQ(kInvalidParameter, worker.AddHandle(clients[62].get(), false, false, 62));
  EXPECT_FALSE(clients[62]->IsInitialized());
  // the 62nd, at index 63, is served
  ::SetEvent(clients[61]->GetHandle());
  ASSERT_TRUE(clients[61]->WaitExecuted());
  EXPECT_EQ(DWORD_PTR{61}, clients[61]->lastParam);
  // room again after a removal
  ASSERT_EQ(S_OK, worker.RemoveHandle(clients[0]->GetHandle()));
  EXPECT_EQ(S_OK, worker.AddHandle(clients[63].get(), false, false, 63));
}

TEST(WorkerThread, RemoveHandle) {
  CEventClient kept, removed;
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&kept, false, false, 1));
  ASSERT_EQ(S_OK, worker.AddHandle(&removed, false, false, 2));
  CEvent stranger(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  EXPECT_EQ(E_FAIL, worker.RemoveHandle(stranger.Get()));
  EXPECT_EQ(E_FAIL, worker.RemoveHandle(nullptr));
  DWORD flags = 0;
  EXPECT_TRUE(::GetHandleInformation(stranger.Get(), &flags));  // not closed

  ASSERT_EQ(S_OK, worker.RemoveHandle(removed.GetHandle()));
  EXPECT_FALSE(removed.IsInitialized());  // let go through the client's CloseHandle
  EXPECT_EQ(nullptr, removed.GetHandle());
  EXPECT_EQ(E_FAIL, worker.RemoveHandle(removed.GetHandle()));
  // the remaining client moved down and is still served
  ::SetEvent(kept.GetHandle());
  ASSERT_TRUE(kept.WaitExecuted());
  EXPECT_EQ(DWORD_PTR{1}, kept.lastParam);
}

TEST(WorkerThread, Attach) {
  CEventClient client;
  CEvent first(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  CEvent second(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_EQ(S_OK, client.Attach(first.Release()));
  EXPECT_EQ(E_UNEXPECTED, client.Attach(second.Get()));

  // Adding a client that holds a handle already fails the same way and leaves its handle alone.
  CEventClient busy;
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&busy, false, false, 5));
  const HANDLE held = busy.GetHandle();
  EXPECT_EQ(E_UNEXPECTED, worker.AddHandle(&busy, false, false, 6));
  EXPECT_EQ(held, busy.GetHandle());
  ::SetEvent(held);
  ASSERT_TRUE(busy.WaitExecuted());
  EXPECT_EQ(DWORD_PTR{5}, busy.lastParam);
}

TEST(WorkerThread, ShutdownLetsGoOfEveryHandle) {
  CEventClient a, b;
  CTimerClient t;
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&a, true, false, 0));
  ASSERT_EQ(S_OK, worker.AddHandle(&b, false, false, 0));
  ASSERT_EQ(S_OK, worker.AddTimer(&t, 60000, 0));
  EXPECT_EQ(S_OK, worker.Shutdown(10000));
  EXPECT_FALSE(a.IsInitialized());
  EXPECT_FALSE(b.IsInitialized());
  EXPECT_FALSE(t.IsInitialized());
  EXPECT_EQ(S_OK, worker.Initialize());  // and it can start again
}

TEST(WorkerThread, TimerFiresEverySecond) {
  CTimerClient timer;
  LARGE_INTEGER frequency, fired[2], added;
  ::QueryPerformanceFrequency(&frequency);
  timer.hook = [&] {
    if (timer.calls < 2) ::QueryPerformanceCounter(&fired[timer.calls]);
  };
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ::QueryPerformanceCounter(&added);
  ASSERT_EQ(S_OK, worker.AddTimer(&timer, 1000, 9));
  ASSERT_TRUE(timer.WaitExecuted(3000));
  ASSERT_TRUE(timer.WaitExecuted(3000));
  EXPECT_EQ(DWORD_PTR{9}, timer.lastParam);
  EXPECT_EQ(timer.GetHandle(), timer.lastHandle);
  auto ms = [&](LARGE_INTEGER from, LARGE_INTEGER to) {
    return (to.QuadPart - from.QuadPart) * 1000 / frequency.QuadPart;
  };
  // Never early; late only by what a loaded machine adds to a wake-up.
  for (const auto period : {ms(added, fired[0]), ms(fired[0], fired[1])}) {
    EXPECT_GE(period, 750);
    EXPECT_LT(period, 2000);
  }
}

TEST(WorkerThread, ClientsRunOneAtATimeLowestIndexFirst) {
  CEventClient gate, b, c, d;  // registered in this order: indices 2, 3, 4, 5
  CEvent open(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  CEvent entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<char> order;  // written on the worker thread only
  std::atomic<int> inside{0}, overlaps{0};
  auto track = [&](char name) {
    return [&, name] {
      if (++inside > 1) ++overlaps;
      order.push_back(name);
      if (name == 'a') {
        ::SetEvent(entered.Get());
        ::WaitForSingleObject(open.Get(), 5000);
      }
      --inside;
    };
  };
  gate.hook = track('a');
  b.hook = track('b');
  c.hook = track('c');
  d.hook = track('d');
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  for (CEventClient* client : {&gate, &b, &c, &d}) ASSERT_EQ(S_OK, worker.AddHandle(client, false, false, 0));
  ::SetEvent(gate.GetHandle());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(entered.Get(), 5000));
  for (CEventClient* client : {&d, &b, &c}) ::SetEvent(client->GetHandle());
  ::SetEvent(open.Get());
  ASSERT_TRUE(d.WaitExecuted());
  EXPECT_EQ((std::vector<char>{'a', 'b', 'c', 'd'}), order);
  EXPECT_EQ(0, overlaps);
}

// A client can't register or remove handles from inside Execute: the thread that would have to
// answer the refresh is the caller itself.
TEST(WorkerThread, CallsFromTheWorkerThreadAreRefused) {
  CEventClient client, other;
  CKalWorkerThread worker;
  HRESULT add = S_OK, remove = S_OK;
  client.hook = [&] {
    add = worker.AddHandle(&other, false, false, 0);
    remove = worker.RemoveHandle(client.GetHandle());
  };
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&client, false, true, 0));
  ASSERT_TRUE(client.WaitExecuted());
  EXPECT_EQ(E_UNEXPECTED, add);
  EXPECT_EQ(E_UNEXPECTED, remove);
  EXPECT_FALSE(other.IsInitialized());
  EXPECT_TRUE(client.IsInitialized());
}

TEST(WorkerThread, ClientExceptionEndsTheThreadWithoutHangingCallers) {
  CEventClient thrower, late;
  CEvent thrown(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  thrower.hook = [&] {
    ::SetEvent(thrown.Get());
    throw std::runtime_error("client fault");
  };
  CKalWorkerThread worker;
  ASSERT_EQ(S_OK, worker.Initialize());
  ASSERT_EQ(S_OK, worker.AddHandle(&thrower, false, true, 0));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thrown.Get(), 5000));
  // the thread ends and never answers a refresh again: registration fails instead of hanging
  EXPECT_EQ(E_UNEXPECTED, worker.AddHandle(&late, false, false, 0));
  EXPECT_FALSE(late.IsInitialized());
  EXPECT_EQ(S_OK, worker.Shutdown(10000));
  EXPECT_FALSE(thrower.IsInitialized());
}

}  // namespace
}  // namespace kal
