// A process for the end-to-end tests to find in the scan: it creates its ready file once it runs,
// then waits until its named event is set (or two minutes pass).
//   e2e_sleeper.exe <event name> <ready file> [anything...]
#include "support/handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  kal::CEvent done(::CreateEventW(nullptr, TRUE, FALSE, argv[1]));
  kal::CFileHandle ready(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ready.Reset();
  ::WaitForSingleObject(done.Get(), 120000);
  return 0;
}
