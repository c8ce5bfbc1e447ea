// One background thread that sleeps on up to 64 kernel handles and calls the client registered
// with a handle when it is signalled; the lookup client does all its network work on it. Index 0
// is the thread's shutdown event, index 1 its refresh event, clients follow in registration order.
#pragma once

#include <vector>

#include "lookup/initializable.h"
#include "support/handles.h"

namespace kal {

class CKalWorkerClientEvent;
class CKalWorkerClientTimer;

// Called on the worker thread, one client at a time.
class IWorkerThreadClient {
 public:
  // handle was signalled; param is the value given when it was added. The result is ignored.
  virtual HRESULT Execute(DWORD_PTR param, HANDLE handle) = 0;
  // The worker lets go of handle; a failure makes the worker close the handle itself.
  virtual HRESULT CloseHandle(HANDLE handle) = 0;

 protected:
  ~IWorkerThreadClient() = default;
};

class CKalWorkerThread : public CInitializable {
 public:
  static constexpr size_t kMaxHandles = MAXIMUM_WAIT_OBJECTS;  // 64, two of them the thread's own

  CKalWorkerThread() = default;
  // Stops a still running worker (10000 ms), so its thread never outlives the object.
  ~CKalWorkerThread() override;

  // Starts the thread; E_UNEXPECTED when it runs already.
  HRESULT Initialize();
  // Creates an unnamed event, registers it for client and param, and attaches it to client.
  // E_UNEXPECTED when the worker is not running or when called from the worker thread.
  HRESULT AddHandle(CKalWorkerClientEvent* client, bool manualReset, bool initiallySignalled,
                    DWORD_PTR param);
  // Creates an auto-reset waitable timer that first fires after periodMs and then every periodMs.
  HRESULT AddTimer(CKalWorkerClientTimer* client, DWORD periodMs, DWORD_PTR param);
  // Unregisters a client handle and lets go of it. E_FAIL when it is not registered.
  HRESULT RemoveHandle(HANDLE handle);
  // Stops the thread, waiting at most timeoutMs, and lets go of every handle; S_OK when the worker
  // was not running. A time-out gives 0x80070102 (the handles are released all the same).
  HRESULT Shutdown(DWORD timeoutMs);

 private:
  struct ClientEntry {
    IWorkerThreadClient* client;
    DWORD_PTR param;
  };

  // The thread's own copies of the arrays, taken while the caller waits in a refresh.
  struct Snapshot {
    HANDLE handles[kMaxHandles];
    ClientEntry clients[kMaxHandles];
    DWORD count;
  };

  HRESULT Register(HANDLE handle, IWorkerThreadClient* client, DWORD_PTR param);
  HRESULT Refresh();
  // Waits for refresh-done; fails when the thread ended instead.
  HRESULT WaitRefreshDone();
  // Takes a client handle off both arrays (the lock is held); false when it is not there.
  bool Unregister(HANDLE handle, IWorkerThreadClient** client);
  static void LetGo(HANDLE handle, IWorkerThreadClient* client);
  HRESULT Stop(DWORD timeoutMs);
  bool OnWorkerThread() const;
  HRESULT AddOwnEvent();

  static unsigned __stdcall ThreadProc(void* self);
  unsigned Run();
  void TakeSnapshot(Snapshot* snapshot) const;

  CThreadHandle thread_;
  DWORD threadId_ = 0;
  std::vector<HANDLE> handles_;
  std::vector<ClientEntry> clients_;
  CRITICAL_SECTION lock_{};
  bool lockReady_ = false;
  CEvent refreshDone_;
};

// A client that holds one handle (the event or timer that wakes it); the flag of CInitializable
// tells that a handle is attached.
class CKalWorkerClientWithHandle : public IWorkerThreadClient, public CInitializable {
 public:
  HRESULT Execute(DWORD_PTR param, HANDLE handle) override = 0;
  // Closes the attached handle and detaches. A handle other than the attached one is not this
  // client's to close: E_FAIL, so the worker closes it itself.
  HRESULT CloseHandle(HANDLE handle) override;
  // E_UNEXPECTED when a handle is attached already.
  virtual HRESULT Attach(HANDLE handle);

  void Uninitialize() override;
  ~CKalWorkerClientWithHandle() override = default;  // an attached handle closes with handle_

  HANDLE GetHandle() const { return handle_.Get(); }

 private:
  CKernelHandle handle_;
};

// Base of clients woken by an event (AddHandle).
class CKalWorkerClientEvent : public CKalWorkerClientWithHandle {};

// Base of clients woken by a periodic timer (AddTimer).
class CKalWorkerClientTimer : public CKalWorkerClientWithHandle {};

}  // namespace kal
