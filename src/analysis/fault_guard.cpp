// The fault guard: a vectored exception handler that, when the faulting thread is inside a
// guarded call, resumes it at a landing routine which jumps back to the guard's entry.
#include "analysis/fault_guard.h"

#include <cstdint>
#include <mutex>

namespace kal::cryptography {
namespace {

struct GuardFrame {
  void* jump[5];  // __builtin_setjmp's buffer
  GuardFrame* previous;
  DWORD code;
};

// The thread's innermost guard frame. A TLS slot rather than a thread_local, so the handler never
// allocates while the faulting thread might hold the heap lock.
DWORD g_frameSlot = TLS_OUT_OF_INDEXES;
std::once_flag g_installed;

GuardFrame* CurrentFrame() {
  const DWORD lastError = ::GetLastError();  // TlsGetValue resets it
  GuardFrame* frame = static_cast<GuardFrame*>(::TlsGetValue(g_frameSlot));
  ::SetLastError(lastError);
  return frame;
}

// Entered in place of the faulting instruction, after the exception dispatch has finished.
[[noreturn]] __attribute__((noinline)) void LandInGuard() {
  GuardFrame* frame = CurrentFrame();
  __builtin_longjmp(frame->jump, 1);
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if ((code & 0xF0000000u) != 0xC0000000u || code == EXCEPTION_STACK_OVERFLOW)
    return EXCEPTION_CONTINUE_SEARCH;
  GuardFrame* frame = CurrentFrame();
  if (frame == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  frame->code = code;
  // Resume in LandInGuard on the faulting stack, below everything the guarded body used; nothing
  // is written here, as the exception records themselves lie below the faulting stack pointer.
  CONTEXT* context = info->ContextRecord;
#if defined(__i386__)
  context->Esp = (context->Esp & ~DWORD{15}) - 4;
  context->Eip = reinterpret_cast<DWORD>(&LandInGuard);
#elif defined(__x86_64__)
  context->Rsp = (context->Rsp & ~DWORD64{15}) - 64 - 8;
  context->Rip = reinterpret_cast<DWORD64>(&LandInGuard);
#else
#error "fault guard: unsupported processor"
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

void Install() {
  g_frameSlot = ::TlsAlloc();
  ::AddVectoredExceptionHandler(1, FaultHandler);
}

}  // namespace

__attribute__((noinline)) DWORD RunFaultGuarded(void (*body)(void* context), void* context) {
  std::call_once(g_installed, Install);
  if (g_frameSlot == TLS_OUT_OF_INDEXES) {  // no slot: run unguarded rather than not at all
    body(context);
    return 0;
  }
  GuardFrame frame{};
  frame.previous = CurrentFrame();
  if (__builtin_setjmp(frame.jump) != 0) {
    // Back from LandInGuard: read what the handler stored, not a copy kept in a register.
    const volatile GuardFrame& landed = frame;
    ::TlsSetValue(g_frameSlot, landed.previous);
    return landed.code;
  }
  ::TlsSetValue(g_frameSlot, &frame);
  body(context);
  ::TlsSetValue(g_frameSlot, frame.previous);
  return 0;
}

}  // namespace kal::cryptography
