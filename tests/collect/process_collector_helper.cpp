// A process for the process collector tests to find. It turns the first '|' of its own command
// line (as held in its environment block) into a NUL, sets the event named by its first argument
// and waits, at most two minutes, for the event named by its second.
#include "support/win.h"

#include <winternl.h>

#include "support/handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  // The arguments were parsed at start-up, before the command line is marked.
  const wchar_t* readyName = argv[1];
  const wchar_t* quitName = argv[2];
  UNICODE_STRING& line = NtCurrentTeb()->ProcessEnvironmentBlock->ProcessParameters->CommandLine;
  for (USHORT i = 0; i < line.Length / sizeof(wchar_t); ++i) {
    if (line.Buffer[i] == L'|') {
      line.Buffer[i] = L'\0';
      break;
    }
  }
  kal::CEvent ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName));
  kal::CEvent quit(::OpenEventW(SYNCHRONIZE, FALSE, quitName));
  if (!ready || !quit) return 3;
  ::SetEvent(ready.Get());
  ::WaitForSingleObject(quit.Get(), 120000);
  return 0;
}
