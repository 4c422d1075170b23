// The settings the debug log is set up from (12 to 14, 23, 39, 75, 76). They
// take effect only at start-up: the reports here tell an administrator where
// the records go, why a log that is switched on stays empty, and that a
// change made since start-up waits for the next one.
#pragma once

#include <cstdint>
#include <string>

#include "common/ci_string.h"
#include "settings/setting_ids.h"

class CHandlePLSettings;

struct LogSettings {
  int32_t level = kDefaultLogLevel;
  int32_t kind = kDefaultLogKind;
  int32_t sizeKB = kDefaultLogSizeKB;
  int32_t ownLog = kDefaultCommonLogOption75;
  int32_t lockOption = kDefaultCommonLogOption76;
  bool fileNameSet = false;  // setting 23 read and not empty
  ci_string fileName;
  bool folderSet = false;    // setting 39 read and not empty
  ci_string folder;

  bool operator==(const LogSettings&) const = default;
  // Level 1 writes, level 10 writes to the event log; anything else is off.
  bool On() const { return level == 1 || level == 10; }
};

// The general settings as the log set-up reads them, without debug-log lines.
LogSettings ReadLogSettings(CHandlePLSettings& settings, int32_t settingsID);

// "setting 14 from 0 to 1, setting 39 from (none) to /var/log": every
// setting that differs; empty when none does.
std::string LogSettingsChanges(const LogSettings& before, const LogSettings& after);
