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

// How each setting is read: an integer, a text without case, a text with
// case, or a text that the loader parses into the settings set itself.
enum class SettingType { Int, CIString, String, SetText };

constexpr SettingType SettingTypeOf(SettingID id) {
  switch (id) {
    case SettingConversionIniFile:
    case SettingVirtualFolderName:
    case SettingCommonLogFileName:
    case SettingCommonLogFolder:
    case SettingBlockedExtensions:
      return SettingType::CIString;
    case SettingTempDirectory:
    case SettingBypassSidList:
    case SettingBypassSidListMore:
      return SettingType::String;
    case SettingDirectAccessIPRanges:
      return SettingType::SetText;
    default:
      return SettingType::Int;
  }
}

// The value each reader presets and keeps when the read fails. Settings 1,
// 17, 23, 39, 45, 48 and 49 have none: their readers handle a failed read.
constexpr int32_t kDefaultOpenRestriction = 1;
constexpr int32_t kDefaultSaveRestriction = 1;
constexpr int32_t kDefaultRichRestriction = 1;
constexpr int32_t kDefaultHighSpeedEnabled = 0;
constexpr const char* kDefaultVirtualFolderName = "X-Pellora";
constexpr int32_t kDefaultLogKind = 1;
constexpr int32_t kDefaultLogSizeKB = 1048576;
constexpr int32_t kDefaultLogLevel = 0;
constexpr int32_t kDefaultEnableBlockedList = 0;
constexpr int32_t kDefaultDefaultVisualisation = 2;
constexpr const char* kDefaultBlockedExtensions = "";
constexpr int32_t kDefaultDirectFileAccessBlockLevel = 1;
constexpr int32_t kDefaultCacheMultimedia = 0;
constexpr int32_t kDefaultSafeSSLOpen = 0;
constexpr int32_t kDefaultAttachmentButtonsBlockLevel = 0;
constexpr int32_t kDefaultEnableWebReady = 0;
constexpr int32_t kDefaultSaveConfirmation = 0;
constexpr int32_t kDefaultRefreshEnabled = 1;
constexpr int32_t kDefaultCommonLogOption75 = 0;
constexpr int32_t kDefaultCommonLogOption76 = 1;
// The interval a settings file starts with; a failed read of setting 81
// keeps the interval the file had.
constexpr int32_t kDefaultReloadIntervalMinutes = 15;
constexpr int32_t kDefaultADPropertyOption = 0;
constexpr int32_t kDefaultClientIPSource = 0;

// Settings identifier that reads the general defaults alone.
constexpr int32_t kDefaultSettingsID = -1;
// Engine identifier of the general settings; -1 reads a set's own items.
constexpr int32_t kGeneralEngineID = 0;
constexpr int32_t kNoEngineID = -1;
// Setting 46 is read for the engine of multimedia files.
constexpr int32_t kCacheMultimediaEngineID = 7;
// Engine 8's option 1 is read (preset -1) by the conversion-option loader.
constexpr int32_t kConversionEngineID = 8;
constexpr int32_t kConversionEngineOption = 1;
constexpr int32_t kDefaultConversionEngineOption = -1;
// This module's identifier in the link-criteria file.
constexpr int32_t kThisModuleHXID = 3;
// The page forms' preset for the high-speed action of an extension.
constexpr int32_t kDefaultHighSpeedAction = 2;
