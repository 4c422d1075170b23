#include "general/log_settings.h"

#include "settings/handle_pl_settings.h"

namespace {

void ReadText(CHandlePLSettings& settings, SettingID id, int32_t settingsID, bool& set, ci_string& value) {
  value.clear();
  set = settings.GetStringValueCI(id, value, settingsID, 0) && !value.empty();
  if (!set) value.clear();
}

void AddChange(std::string& out, SettingID id, const std::string& before, const std::string& after) {
  if (before == after) return;
  if (!out.empty()) out += ", ";
  out += "setting " + std::to_string(static_cast<int>(id)) + " from " + before + " to " + after;
}

std::string Text(bool set, const ci_string& value) { return set ? ToStd(value) : std::string("(none)"); }

}  // namespace

LogSettings ReadLogSettings(CHandlePLSettings& settings, int32_t settingsID) {
  LogSettings s;
  settings.GetIntValue(SettingLogLevel, s.level, settingsID, 0);
  settings.GetIntValue(SettingLogKind, s.kind, settingsID, 0);
  settings.GetIntValue(SettingLogSizeKB, s.sizeKB, settingsID, 0);
  settings.GetIntValue(SettingCommonLogOption75, s.ownLog, settingsID, 0);
  settings.GetIntValue(SettingCommonLogOption76, s.lockOption, settingsID, 0);
  ReadText(settings, SettingCommonLogFileName, settingsID, s.fileNameSet, s.fileName);
  ReadText(settings, SettingCommonLogFolder, settingsID, s.folderSet, s.folder);
  return s;
}

std::string LogSettingsChanges(const LogSettings& before, const LogSettings& after) {
  std::string out;
  AddChange(out, SettingLogKind, std::to_string(before.kind), std::to_string(after.kind));
  AddChange(out, SettingLogSizeKB, std::to_string(before.sizeKB), std::to_string(after.sizeKB));
  AddChange(out, SettingLogLevel, std::to_string(before.level), std::to_string(after.level));
  AddChange(out, SettingCommonLogFileName, Text(before.fileNameSet, before.fileName),
            Text(after.fileNameSet, after.fileName));
  AddChange(out, SettingCommonLogFolder, Text(before.folderSet, before.folder), Text(after.folderSet, after.folder));
  AddChange(out, SettingCommonLogOption75, std::to_string(before.ownLog), std::to_string(after.ownLog));
  AddChange(out, SettingCommonLogOption76, std::to_string(before.lockOption), std::to_string(after.lockOption));
  return out;
}
