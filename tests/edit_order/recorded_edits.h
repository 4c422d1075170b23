// Every page edit that the forms record, in the order they record it. This
// test program brings its own CUtil::InsertHtmlStringAtPosition and
// CUtil::DeleteHtmlStringAtPosition (recorded_edits.cpp): the linker then
// takes them instead of the module's, which add to the list the same way and
// keep a copy of each edit here as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

struct RecordedEdit {
  DWORD type = 0;
  uint64_t address = 0;
  std::string text;
  DWORD length = 0;
};

// The edits recorded since the last Clear.
std::vector<RecordedEdit>& RecordedEdits();
