// The worker thread: registration under the lock, the refresh handshake that hands the thread a
// fresh copy of the arrays, the wait loop, and the release of every handle on stop.
#include "lookup/worker_thread.h"

#include <process.h>

#include "support/hresult.h"

namespace kal {

namespace {

constexpr DWORD kShutdownIndex = 0;
constexpr DWORD kRefreshIndex = 1;
constexpr DWORD kStopTimeoutMs = 10000;

// Holds a critical section for one scope.
class CLockGuard {
 public:
  explicit CLockGuard(CRITICAL_SECTION* lock) : lock_(lock) { ::EnterCriticalSection(lock_); }
  ~CLockGuard() { ::LeaveCriticalSection(lock_); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

}  // namespace

CKalWorkerThread::~CKalWorkerThread() { Shutdown(kStopTimeoutMs); }

bool CKalWorkerThread::OnWorkerThread() const {
  return thread_ && ::GetCurrentThreadId() == threadId_;
}

HRESULT CKalWorkerThread::Initialize() {
  if (IsInitialized() || thread_) return E_UNEXPECTED;
  if (!::InitializeCriticalSectionAndSpinCount(&lock_, 0)) return HResultFromLastError();
  lockReady_ = true;

  refreshDone_.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!refreshDone_) {
    const HRESULT hr = HResultFromLastError();
    Stop(kStopTimeoutMs);
    return hr;
  }
  for (int i = 0; i < 2; ++i) {  // the shutdown event, then the refresh event
    const HRESULT hr = AddOwnEvent();
    if (FAILED(hr)) {
      Stop(kStopTimeoutMs);
      return hr;
    }
  }

  unsigned id = 0;
  // The runtime's own thread start, so the runtime is set up for the thread.
  thread_.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadProc, this, 0, &id)));
  if (!thread_) {
    HRESULT hr = HResultFromLastError();
    const HRESULT stop = Stop(kStopTimeoutMs);
    if (SUCCEEDED(hr)) hr = FAILED(stop) ? stop : E_FAIL;
    return hr;
  }
  threadId_ = id;
  const HRESULT hr = WaitRefreshDone();
  if (FAILED(hr)) {
    Stop(kStopTimeoutMs);
    return hr;
  }
  ExchangeInitialized(true);
  return S_OK;
}

HRESULT CKalWorkerThread::AddOwnEvent() {
  CEvent event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event) return HResultFromLastError();
  CLockGuard guard(&lock_);
  RETURN_IF_FAILED(Register(event.Get(), nullptr, 0));
  event.Release();  // the array owns it now
  return S_OK;
}

HRESULT CKalWorkerThread::Register(HANDLE handle, IWorkerThreadClient* client, DWORD_PTR param) {
  if (handles_.size() >= kMaxHandles) return HResultFromWin32(ERROR_INVALID_PARAMETER);
  try {
    handles_.push_back(handle);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  try {
    clients_.push_back(ClientEntry{client, param});
  } catch (const std::bad_alloc&) {
    handles_.pop_back();
    return E_OUTOFMEMORY;
  }
  if (handles_.size() >= 3) {
    const HRESULT hr = Refresh();
    if (FAILED(hr)) {  // the thread can't take the handle: take it off again
      handles_.pop_back();
      clients_.pop_back();
      return hr;
    }
  }
  return S_OK;
}

HRESULT CKalWorkerThread::Refresh() {
  if (!thread_) return S_OK;
  if (!::SetEvent(handles_[kRefreshIndex])) return HResultFromLastError();
  return WaitRefreshDone();
}

HRESULT CKalWorkerThread::WaitRefreshDone() {
  // A thread that has ended (a client's exception, a failed wait) never answers: don't wait on.
  const HANDLE waits[2] = {refreshDone_.Get(), thread_.Get()};
  const DWORD w = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (w == WAIT_OBJECT_0) return S_OK;
  if (w == WAIT_OBJECT_0 + 1) return E_UNEXPECTED;
  return w == WAIT_FAILED ? HResultFromLastError() : E_FAIL;
}

HRESULT CKalWorkerThread::AddHandle(CKalWorkerClientEvent* client, bool manualReset,
                                    bool initiallySignalled, DWORD_PTR param) {
  if (!IsInitialized() || OnWorkerThread()) return E_UNEXPECTED;
  CEvent event(::CreateEventW(nullptr, manualReset, initiallySignalled, nullptr));
  if (!event) return HResultFromLastError();
  CKalWorkerClientWithHandle* withHandle = client;
  {
    CLockGuard guard(&lock_);
    RETURN_IF_FAILED(Register(event.Get(), withHandle, param));
  }
  const HANDLE handle = event.Release();  // registered: the worker lets go of it from now on
  const HRESULT hr = withHandle->Attach(handle);
  if (FAILED(hr)) RemoveHandle(handle);
  return hr;
}

HRESULT CKalWorkerThread::AddTimer(CKalWorkerClientTimer* client, DWORD periodMs,
                                   DWORD_PTR param) {
  if (!IsInitialized() || OnWorkerThread()) return E_UNEXPECTED;
  CKernelHandle timer(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
  if (!timer) return HResultFromLastError();
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(periodMs) * 10000;  // relative, in 100 ns units
  RETURN_LAST_ERROR_IF_FALSE(::SetWaitableTimer(timer.Get(), &due, static_cast<LONG>(periodMs),
                                                nullptr, nullptr, FALSE));
  CKalWorkerClientWithHandle* withHandle = client;
  {
    CLockGuard guard(&lock_);
    RETURN_IF_FAILED(Register(timer.Get(), withHandle, param));
  }
  const HANDLE handle = timer.Release();
  const HRESULT hr = withHandle->Attach(handle);
  if (FAILED(hr)) RemoveHandle(handle);
  return hr;
}

bool CKalWorkerThread::Unregister(HANDLE handle, IWorkerThreadClient** client) {
  // Only client handles can go; the thread's own two events stay until the stop.
  for (size_t i = 2; i < handles_.size(); ++i) {
    if (handles_[i] != handle) continue;
    *client = clients_[i].client;
    handles_.erase(handles_.begin() + i);
    clients_.erase(clients_.begin() + i);
    return true;
  }
  return false;
}

HRESULT CKalWorkerThread::RemoveHandle(HANDLE handle) {
  if (!lockReady_) return E_FAIL;
  if (OnWorkerThread()) return E_UNEXPECTED;
  IWorkerThreadClient* client = nullptr;
  HRESULT hr;
  {
    CLockGuard guard(&lock_);
    if (!Unregister(handle, &client)) return E_FAIL;  // not registered: nothing changes
    hr = Refresh();
  }
  LetGo(handle, client);
  return hr;
}

void CKalWorkerThread::LetGo(HANDLE handle, IWorkerThreadClient* client) {
  if (client == nullptr || FAILED(client->CloseHandle(handle))) {
    CKernelHandle owned(handle);  // closes it
  }
}

HRESULT CKalWorkerThread::Shutdown(DWORD timeoutMs) {
  if (!ExchangeInitialized(false)) return S_OK;
  return Stop(timeoutMs);
}

HRESULT CKalWorkerThread::Stop(DWORD timeoutMs) {
  HRESULT hr = S_OK;
  if (thread_) {
    ::SetEvent(handles_[kShutdownIndex]);
    const DWORD w = ::WaitForSingleObject(thread_.Get(), timeoutMs);
    if (w != WAIT_OBJECT_0) hr = HResultFromWin32(w == WAIT_FAILED ? ::GetLastError() : w);
  }
  std::vector<HANDLE> handles;
  std::vector<ClientEntry> clients;
  if (lockReady_) {
    CLockGuard guard(&lock_);
    handles.swap(handles_);
    clients.swap(clients_);
  }
  for (size_t i = 0; i < handles.size(); ++i) LetGo(handles[i], clients[i].client);
  thread_.Reset();
  threadId_ = 0;
  refreshDone_.Reset();
  if (lockReady_) {
    ::DeleteCriticalSection(&lock_);
    lockReady_ = false;
  }
  return hr;
}

void CKalWorkerThread::TakeSnapshot(Snapshot* snapshot) const {
  snapshot->count = static_cast<DWORD>(handles_.size());
  for (DWORD i = 0; i < kMaxHandles; ++i) {
    snapshot->handles[i] = i < snapshot->count ? handles_[i] : INVALID_HANDLE_VALUE;
    snapshot->clients[i] = i < snapshot->count ? clients_[i] : ClientEntry{nullptr, 0};
  }
}

unsigned __stdcall CKalWorkerThread::ThreadProc(void* self) {
  return static_cast<CKalWorkerThread*>(self)->Run();
}

unsigned CKalWorkerThread::Run() {
  Snapshot snapshot;
  TakeSnapshot(&snapshot);
  ::SetEvent(refreshDone_.Get());
  try {
    for (;;) {
      const DWORD w =
          ::WaitForMultipleObjects(snapshot.count, snapshot.handles, FALSE, INFINITE);
      if (w == WAIT_OBJECT_0 + kShutdownIndex) return 0;
      if (w == WAIT_OBJECT_0 + kRefreshIndex) {
        TakeSnapshot(&snapshot);  // the caller holds the lock and waits for refresh-done
        ::SetEvent(refreshDone_.Get());
        continue;
      }
      if (w >= WAIT_OBJECT_0 + snapshot.count) return 1;  // abandoned, failed: give up
      const DWORD i = w - WAIT_OBJECT_0;
      snapshot.clients[i].client->Execute(snapshot.clients[i].param, snapshot.handles[i]);
    }
  } catch (...) {
    return 1;
  }
}

HRESULT CKalWorkerClientWithHandle::CloseHandle(HANDLE handle) {
  if (handle != handle_.Get() || !handle_) return E_FAIL;
  handle_.Reset();
  ExchangeInitialized(false);
  return S_OK;
}

HRESULT CKalWorkerClientWithHandle::Attach(HANDLE handle) {
  if (IsInitialized()) return E_UNEXPECTED;
  handle_.Reset(handle);
  ExchangeInitialized(true);
  return S_OK;
}

void CKalWorkerClientWithHandle::Uninitialize() {
  if (IsInitialized()) CloseHandle(handle_.Get());
}

}  // namespace kal
