// Every numbered setting the module reads, by the identifier it has in the
// module settings file. Each reader presets its own default and keeps it
// when the read fails.
#pragma once

#include <cstdint>

enum SettingID : int32_t {
  SettingConversionIniFile = 1,             // ci_string; -1, 0; INI file of conversion options
  SettingOpenRestriction = 2,               // int; request, 0; default 1 (0 restricts opening)
  SettingSaveRestriction = 3,               // int; request, 0; default 1 (0 restricts saving)
  SettingRichRestriction = 4,               // int; request, 0; default 1 (0 restricts the rich view)
  SettingHighSpeedEnabled = 5,              // int; caller's set and engine; default 0
  SettingVirtualFolderName = 7,             // ci_string; 0, 0; default "X-Pellora"
  SettingLogKind = 12,                      // int; -1, 0; default 1
  SettingLogSizeKB = 13,                    // int; -1, 0; default 1048576
  SettingLogLevel = 14,                     // int; -1, 0; default 0
  SettingTempDirectory = 17,                // std::string; -1, 0
  SettingEnableBlockedList = 22,            // int; request, 0; default 0
  SettingCommonLogFileName = 23,            // ci_string; -1, 0
  SettingDefaultVisualisation = 24,         // int; request, 0; default 2
  SettingCommonLogFolder = 39,              // ci_string; -1, 0
  SettingBlockedExtensions = 42,            // ci_string; request, 0; default empty
  SettingDirectFileAccessBlockLevel = 43,   // int; request, 0; default 1 (0, 1 or 2)
  SettingDirectAccessIPRanges = 45,         // text of each set's own items, parsed at load
  SettingCacheMultimedia = 46,              // int; request, engine 7; default 0
  SettingSafeSSLOpen = 47,                  // int; request, 0; default 0
  SettingBypassSidList = 48,                // std::string; 0, 0
  SettingBypassSidListMore = 49,            // std::string; 0, 0
  SettingAttachmentButtonsBlockLevel = 51,  // int; request, 0; default 0 (0, 1 or 2)
  SettingEnableWebReady = 71,               // int; request, 0; default 0
  SettingSaveConfirmation = 73,             // int; request, 0; default 0
  SettingRefreshEnabled = 74,               // int; -1, -1; default 1
  SettingCommonLogOption75 = 75,            // int; -1, 0; default 0
  SettingCommonLogOption76 = 76,            // int; -1, 0; default 1
  SettingReloadIntervalMinutes = 81,        // int; -1, -1; the interval keeps its value
  SettingADPropertyOption = 84,             // int; -1, 0; default 0
  SettingClientIPSource = 85,               // int; -1, -1; default 0
};

// Settings identifier that reads the general defaults alone.
constexpr int32_t kDefaultSettingsID = -1;
// Engine identifier of the general settings; -1 reads a set's own items.
constexpr int32_t kGeneralEngineID = 0;
constexpr int32_t kNoEngineID = -1;
// Engine 8's option 1 is read (preset -1) by the conversion-option loader.
constexpr int32_t kConversionEngineID = 8;
constexpr int32_t kConversionEngineOption = 1;
// The page forms' preset for the high-speed action of an extension.
constexpr int32_t kDefaultHighSpeedAction = 2;
