// What the host is to do with the rest of a request, as the handlers leave it
// in the request record, and the names the logs print for it.
#pragma once

#include "platform/win_types.h"

enum ControlMessage : DWORD {
  ControlMessageNone = 0,
  ControlMessageIgnore = 1,
  ControlMessageHandledRedirected = 2,
  ControlMessageReplace = 3,
  ControlMessageCompleted = 4,
};

inline const char* ControlMessageName(DWORD value) {
  switch (value) {
    case ControlMessageNone: return "None";
    case ControlMessageIgnore: return "Ignore";
    case ControlMessageHandledRedirected: return "Handled/Redirected";
    case ControlMessageReplace: return "Replace";
    case ControlMessageCompleted: return "Completed";
    default: return "Unknown";
  }
}

// Printed in place of a name when a handler was given no record.
inline constexpr const char* kControlMessageNotAvailable = "N/A";
