#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void OutputDebugStringA(const char* text) {
  if (text == nullptr) return;
  const char* enabled = std::getenv("HX_DEBUG_OUTPUT");
  if (enabled == nullptr || std::strcmp(enabled, "1") != 0) return;
  std::fputs(text, stderr);
  std::fflush(stderr);
}
