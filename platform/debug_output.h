// The system debug-output channel: stderr, and only when the environment
// variable HX_DEBUG_OUTPUT is "1" (the host's operators switch it on while
// they watch a module load and unload).
#pragma once

void OutputDebugStringA(const char* text);
