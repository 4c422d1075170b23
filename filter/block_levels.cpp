// The direct file access and attachment buttons block levels, as the request
// decisions and the page forms both take them.
#include "filter/block_levels.h"

#include "common/debug_log.h"
#include "general/pl_hx_general_settings.h"
#include "settings/setting_ids.h"

namespace BlockLevels {

namespace {

constexpr WORD kEventError = 1;
constexpr WORD kEventWarning = 2;

using Outcome = CHandlePLSettings::LevelValue::Outcome;

bool IsKnownLevel(const CHandlePLSettings::LevelValue& value) {
  return value.outcome == Outcome::Read && value.level >= 0 && value.level <= 2;
}

}  // namespace

int32_t DirectFileAccessLevelOf(const CHandlePLSettings::LevelValue& value) {
  if (value.outcome == Outcome::Missing) return kDefaultDirectFileAccessBlockLevel;
  return IsKnownLevel(value) ? value.level : kInvalid;
}

void ReportInvalidDirectFileAccessLevel(CPLHXGeneralSettings& settings, int32_t settingsId, const std::string& text) {
  const std::string key = "43 invalid " + std::to_string(settingsId) + " 0";
  if (!settings.GetHandleSettings().FirstReportOfThisLoad(key)) return;
  settings.WriteEventLog(kEventError,
                         "Direct file access block level <%s> of settings <%d> is invalid; direct downloads of "
                         "attachments and documents are refused until it is 0, 1 or 2.",
                         text.c_str(), static_cast<int>(settingsId));
}

int32_t ReadDirectFileAccessLevel(CPLHXGeneralSettings& settings, int32_t settingsId) {
  const CHandlePLSettings::LevelValue value =
      settings.GetHandleSettings().ReadLevel(SettingDirectFileAccessBlockLevel, settingsId, kGeneralEngineID);
  const int32_t level = DirectFileAccessLevelOf(value);
  if (level == kInvalid) ReportInvalidDirectFileAccessLevel(settings, settingsId, value.text);
  return level;
}

int32_t ReadAttachmentButtonsLevel(CPLHXGeneralSettings& settings, int32_t settingsId) {
  CHandlePLSettings& handle = settings.GetHandleSettings();
  const CHandlePLSettings::LevelValue value =
      handle.ReadLevel(SettingAttachmentButtonsBlockLevel, settingsId, kGeneralEngineID);
  if (value.outcome == Outcome::Missing) {
    DebugLog("[BlockLevels::ReadAttachmentButtonsLevel] No attachment buttons block level. SettingID <%d> ID <%d>.",
             static_cast<int>(SettingAttachmentButtonsBlockLevel), static_cast<int>(settingsId));
    return kDefaultAttachmentButtonsBlockLevel;
  }
  if (IsKnownLevel(value)) return value.level;
  if (handle.FirstReportOfThisLoad("51 invalid " + std::to_string(settingsId))) {
    settings.WriteEventLog(kEventWarning,
                           "Attachment buttons block level <%s> of settings <%d> is invalid; the attach-file "
                           "dialog is left alone, as at level 0, until it is 0, 1 or 2.",
                           value.text.c_str(), static_cast<int>(settingsId));
  }
  return kDefaultAttachmentButtonsBlockLevel;
}

}  // namespace BlockLevels
