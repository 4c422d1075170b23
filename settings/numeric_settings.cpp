#include "settings/numeric_settings.h"

#include <climits>

#include "settings/setting_ids.h"

namespace {

constexpr NumericSettingRule kRules[] = {
    {SettingOpenRestriction, 0, INT32_MAX, 0},
    {SettingSaveRestriction, 0, INT32_MAX, 0},
    {SettingRichRestriction, 0, INT32_MAX, 0},
    {SettingHighSpeedEnabled, 0, INT32_MAX, kDefaultHighSpeedEnabled},
    {SettingLogKind, 0, INT32_MAX, kDefaultLogKind},
    {SettingLogSizeKB, INT32_MIN, INT32_MAX, kDefaultLogSizeKB},
    {SettingLogLevel, 0, INT32_MAX, kDefaultLogLevel},
    {SettingEnableBlockedList, 0, INT32_MAX, 1},
    {SettingDefaultVisualisation, 0, INT32_MAX, kDefaultDefaultVisualisation},
    {SettingCacheMultimedia, 0, INT32_MAX, kDefaultCacheMultimedia},
    {SettingSafeSSLOpen, 0, INT32_MAX, kDefaultSafeSSLOpen},
    {SettingEnableWebReady, 0, INT32_MAX, kDefaultEnableWebReady},
    {SettingSaveConfirmation, 0, INT32_MAX, kDefaultSaveConfirmation},
    {SettingRefreshEnabled, 0, INT32_MAX, kDefaultRefreshEnabled},
    {SettingCommonLogOption75, 0, INT32_MAX, kDefaultCommonLogOption75},
    {SettingCommonLogOption76, INT32_MIN, INT32_MAX, kDefaultCommonLogOption76},
    {SettingReloadIntervalMinutes, 0, kMaxReloadIntervalMinutes, kDefaultReloadIntervalMinutes},
    {SettingADPropertyOption, 0, INT32_MAX, kDefaultADPropertyOption},
    {SettingClientIPSource, 0, 1, kDefaultClientIPSource},
};

}  // namespace

const NumericSettingRule* NumericSettingRuleOf(int32_t id) {
  for (const NumericSettingRule& rule : kRules) {
    if (rule.id == id) return &rule;
  }
  return nullptr;
}
