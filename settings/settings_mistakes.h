// Mistakes an administrator made in a settings file, and settings files that
// cannot be read. The mistakes of one load are gathered while the file is
// read and reported after the load, so each reaches the event log once per
// load: a warning that names the file, the element or text, and what is used
// instead, with the same text in the debug log.
#pragma once

#include <string>
#include <vector>

#include "common/debug_log.h"
#include "platform/win_types.h"

class CSettingsMistakes {
 public:
  // One mistake, in words that name the file and what is used instead.
  void Add(const char* format, ...) HX_PRINTF(2, 3);
  // Reports every mistake gathered and forgets them.
  void Report();
  const std::vector<std::string>& Texts() const { return m_texts; }

 private:
  std::vector<std::string> m_texts;
};

// What the parser said about a file it could not read; line 0 when it gave
// none.
struct XMLLoadFailure {
  std::string reason;
  LONG line = 0;
  LONG position = 0;
};

// An error event for a settings file that could not be read: the file, the
// reason (and line), and whether the settings in force stay or the file was
// not loaded at all.
void ReportUnreadableSettingsFile(const std::string& path, const XMLLoadFailure& failure, bool settingsInForce);
