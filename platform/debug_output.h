// The debugger-output channel. On this platform it is standard error, and it
// stays silent unless the environment variable HX_DEBUG_OUTPUT is set to a
// value other than "0" (read once, at the first call).
#pragma once

void OutputDebugStringA(const char* text);
bool DebugOutputEnabled();
