// Placeholder until the debug log with its sinks lands: everything is dropped.
#include "common/debug_log.h"

void DebugLog(const char*, ...) {}
void DebugLogError(DWORD, const char*, ...) {}
bool DebugLogEnabled() { return false; }
