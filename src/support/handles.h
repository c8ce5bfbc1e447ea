// The owning types for the kernel and user-mode resources the program holds. Each kind has its
// own invalid value: a file handle (INVALID_HANDLE_VALUE) is not a kernel handle (NULL).
#pragma once

#include "support/unique_resource.h"

#include <wincrypt.h>
#include <winsvc.h>
#include <wtsapi32.h>

namespace kal {

namespace traits {
struct KernelHandle {  // processes, threads, events, mappings, tokens, mutexes
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandle {  // CreateFile results, snapshots
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FindHandle {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};
struct MappedView {
  using Type = const void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::UnmapViewOfFile(p); }
};
struct RegKey {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type k) { ::RegCloseKey(k); }
};
struct ServiceHandle {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseServiceHandle(h); }
};
struct CryptProv {
  using Type = HCRYPTPROV;
  static Type Invalid() { return 0; }
  static void Close(Type h) { ::CryptReleaseContext(h, 0); }
};
struct CryptHash {
  using Type = HCRYPTHASH;
  static Type Invalid() { return 0; }
  static void Close(Type h) { ::CryptDestroyHash(h); }
};
struct CertStore {
  using Type = HCERTSTORE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CertCloseStore(h, 0); }
};
struct CertContext {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CertFreeCertificateContext(h); }
};
struct CryptMsg {
  using Type = HCRYPTMSG;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CryptMsgClose(h); }
};
struct LocalMem {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::LocalFree(h); }
};
struct Library {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::FreeLibrary(h); }
};
struct EventSource {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeregisterEventSource(h); }
};
struct Heap {  // HeapCreate results
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::HeapDestroy(h); }
};
struct ProcessHeapBlock {  // HeapAlloc(GetProcessHeap(), ...) results
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::HeapFree(::GetProcessHeap(), 0, p); }
};
struct WtsSessionInfo {  // WTSEnumerateSessionsW results
  using Type = PWTS_SESSION_INFOW;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::WTSFreeMemory(p); }
};
}  // namespace traits

using CKernelHandle = UniqueResource<traits::KernelHandle>;
using CFileHandle = UniqueResource<traits::FileHandle>;
using CFindHandle = UniqueResource<traits::FindHandle>;
using CMappedView = UniqueResource<traits::MappedView>;
using CRegKey = UniqueResource<traits::RegKey>;
using CServiceHandle = UniqueResource<traits::ServiceHandle>;
using CCryptProv = UniqueResource<traits::CryptProv>;
using CCryptHash = UniqueResource<traits::CryptHash>;
using CCertStore = UniqueResource<traits::CertStore>;
using CCertContext = UniqueResource<traits::CertContext>;
using CCryptMsg = UniqueResource<traits::CryptMsg>;
using CLocalMem = UniqueResource<traits::LocalMem>;
using CLibrary = UniqueResource<traits::Library>;
using CEventSource = UniqueResource<traits::EventSource>;
using CWtsSessionInfo = UniqueResource<traits::WtsSessionInfo>;
using CHeap = UniqueResource<traits::Heap>;
using CProcessHeapBlock = UniqueResource<traits::ProcessHeapBlock>;

// Events, mappings, tokens and threads close like any kernel handle but are kinds of their own,
// so a token can't be passed where an event is expected.
namespace traits {
struct Event : KernelHandle {};
struct FileMapping : KernelHandle {};
struct Token : KernelHandle {};
struct Thread : KernelHandle {};
}  // namespace traits
using CEvent = UniqueResource<traits::Event>;
using CFileMapping = UniqueResource<traits::FileMapping>;
using CToken = UniqueResource<traits::Token>;
using CThreadHandle = UniqueResource<traits::Thread>;

}  // namespace kal
