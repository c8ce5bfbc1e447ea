// The message boxes that registration and removal of the service show on failure: texts from the
// program's string table, with English fall-backs when the table lacks them.
#pragma once

#include <functional>
#include <string>

#include "support/win.h"

namespace kal {

enum ServiceMessage : UINT {
  kMsgCouldNotOpenManager = 55306,
  kMsgCouldNotStartService = 55307,
  kMsgCouldNotOpenService = 55308,
  kMsgCouldNotDeleteService = 55309,
  kMsgCouldNotStopService = 55310,
};

// The text of `id` from the program's string table, else its English fall-back.
std::wstring ServiceMessageText(UINT id);

// A message box without owner, captioned with the service name, with an OK button.
void ShowServiceMessage(UINT id, const std::wstring& serviceName);

// Lets a test see each message instead of a box; pass an empty function to show boxes again.
void SetServiceMessageObserver(std::function<void(const std::wstring&)> observer);

}  // namespace kal
