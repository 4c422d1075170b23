#include "settings/settings_mistakes.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "common/event_log.h"

namespace {

// Where a cut at or before at leaves whole UTF-8 characters on both sides.
size_t CharacterStart(const std::string& text, size_t at) {
  while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at;
}

}  // namespace

void CSettingsMistakes::Add(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  // Two mistakes are one only when their whole texts are: a long quoted
  // value must not make the mistake of another set look like a repeat.
  if (!m_known.emplace(text).second) return;
  if (m_texts.size() >= kReportedMax) return;
  // An event stays readable: a long text keeps its start (the file and
  // what holds the mistake) and its end (where, and what is used instead).
  constexpr size_t kKept = kTextMax / 2 - 40;  // room for the note of what is left out
  if (text.size() > kTextMax) {
    const size_t head = CharacterStart(text, kKept);
    const size_t tail = CharacterStart(text, text.size() - kKept);
    text = text.substr(0, head) + " [" + std::to_string(tail - head) + " bytes left out] " + text.substr(tail);
  }
  m_texts.push_back(std::move(text));
}

void CSettingsMistakes::Report(const char* fileWords, const std::string& path) {
  for (const std::string& text : m_texts) {
    DebugLog("%s", text.c_str());
    LogEventF(EVENTLOG_WARNING_TYPE, "%s", text.c_str());
  }
  const size_t more = m_known.size() - m_texts.size();
  if (more > 0) {
    DebugLog("The %s %s has %zu more mistakes than the %zu reported before; they are read as those are.", fileWords,
             path.c_str(), more, m_texts.size());
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The %s %s has %zu more mistakes than the %zu reported before, which are not reported one by one; "
              "each is read as SETTINGS.md says for what cannot be read there (not read, or replaced by its "
              "default or, for a switch that restricts, by its restricting value). Correct the file and load it "
              "again to see them.",
              fileWords, path.c_str(), more, m_texts.size());
  }
  m_known.clear();
  m_texts.clear();
}

void NoteRepeatedAttributes(const CXMLDocument& document, const char* fileWords, const std::string& path,
                            CSettingsMistakes& mistakes) {
  for (const CXMLDocument::RepeatedAttribute& repeated : document.FindRepeatedAttributes()) {
    std::string values;
    for (const std::string& value : repeated.values) values += (values.empty() ? "\"" : ", \"") + value + "\"";
    const std::string element =
        repeated.id.empty() || repeated.name == "ID" ? repeated.element : repeated.element + " ID=\"" + repeated.id + "\"";
    mistakes.Add("The %s %s has <%s> with the attribute %s given %zu times (%s), which XML forbids; the first, \"%s\", "
                 "is used.",
                 fileWords, path.c_str(), element.c_str(), repeated.name.c_str(), repeated.values.size(), values.c_str(),
                 repeated.values.front().c_str());
  }
}

void NoteBytesNotUTF8(const CXMLDocument& document, const char* fileWords, const std::string& path,
                      CSettingsMistakes& mistakes) {
  const long line = document.FirstLineNotUTF8();
  if (line == 0) return;
  mistakes.Add("The %s %s has bytes that are not UTF-8, the first at line %ld, and declares no other set; the texts "
               "holding them are read as they stand and may not be what was written. Save the file as UTF-8, or "
               "declare its set in its first line (<?xml version=\"1.0\" encoding=\"windows-1252\"?>).",
               fileWords, path.c_str(), line);
}

void ReportUnreadableSettingsFile(const std::string& path, const XMLLoadFailure& failure, bool settingsInForce) {
  // The parser's reason ends with a line break of its own.
  std::string reason = failure.reason;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  if (reason.empty()) reason = "unknown reason";
  char where[64] = {};
  if (failure.line > 0) {
    std::snprintf(where, sizeof where, " at line %ld, position %ld", static_cast<long>(failure.line),
                  static_cast<long>(failure.position));
  }
  const char* outcome = settingsInForce ? "the settings in force stay until the file can be read"
                                        : "it was not loaded";
  DebugLog("The settings file %s cannot be read: %s%s; %s.", path.c_str(), reason.c_str(), where, outcome);
  LogEventF(EVENTLOG_ERROR_TYPE, "The settings file %s cannot be read: %s%s; %s.", path.c_str(), reason.c_str(), where,
            outcome);
}

void CLoadFailureReport::Report(const XMLLoadFailure& failure) {
  if (m_bReported) return;
  m_bReported = true;
  ReportUnreadableSettingsFile(m_path, failure, m_bInForce);
}

void CLoadFailureReport::ReportCode(HRESULT hr) {
  char text[96] = {};
  std::snprintf(text, sizeof text, "the reader failed with error 0x%08X", static_cast<unsigned>(hr));
  Report({text, 0, 0});
}

void CLoadFailureReport::ReportText(const char* what) {
  Report({std::string("the reader failed: ") + (what != nullptr && *what != '\0' ? what : "unknown error"), 0, 0});
}
