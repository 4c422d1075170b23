#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/standard_streams.h"

bool DebugOutputEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("HX_DEBUG_OUTPUT");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
  }();
  return enabled;
}

void OutputDebugStringA(const char* text) {
  if (text == nullptr || !DebugOutputEnabled()) return;
  WriteToStandardError(text);
}
