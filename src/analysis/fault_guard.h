// A structured-exception guard for code that reads memory which may fault, such as a mapped view
// of a file whose backing store fails (in-page error). The compiler offers no __try/__except, so
// a process-wide vectored handler abandons the guarded call and returns to its caller.
#pragma once

#include "support/win.h"

namespace kal::cryptography {

// Runs body(context) on the calling thread. Returns 0 when the body ran to its end, or the
// exception code of the machine fault (any error-severity exception but a stack overflow) that
// abandoned it. Whatever the body stored before the fault stays stored; the body's own frames
// are discarded without unwinding, so it must hold no resources or locks and must not depend on
// exception handling of its own.
DWORD RunFaultGuarded(void (*body)(void* context), void* context);

}  // namespace kal::cryptography
