// A process for the end-to-end tests to find in the scan: it waits until its named event is set
// (or two minutes pass), so the test controls how long it lives.
//   e2e_sleeper.exe <event name> [anything...]
#include "support/handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  kal::CEvent done(::CreateEventW(nullptr, TRUE, FALSE, argv[1]));
  ::WaitForSingleObject(done.Get(), 120000);
  return 0;
}
