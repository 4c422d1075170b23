// Mistakes an administrator made in a settings file, and settings files that
// cannot be read. The mistakes of one load are gathered while the file is
// read and reported after the load, so each reaches the event log once per
// load: a warning that names the file, the element or text, and what is used
// instead, with the same text in the debug log. A file with thousands of
// mistakes (a generated one, a bad merge) reports the first ones and then
// how many more there are, so the event log of the server stays readable.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/debug_log.h"
#include "platform/msxml.h"
#include "platform/win_types.h"

class CSettingsMistakes {
 public:
  // The most mistakes of one load reported one by one.
  static constexpr size_t kReportedMax = 100;
  // The longest text of one event (the event log's own bound); a longer
  // mistake keeps its start and its end, and says how much is left out.
  static constexpr size_t kTextMax = 2048;

  // One mistake, in words that name the file and what is used instead. What
  // the reader meets twice in one load (a set given twice) is one mistake.
  void Add(const char* format, ...) HX_PRINTF(2, 3);
  // Reports the first kReportedMax mistakes gathered, then one warning that
  // names the file (fileWords: "settings file", "link-criteria file") and
  // says how many more were found; forgets them all.
  void Report(const char* fileWords, const std::string& path);

 private:
  std::unordered_set<std::string> m_known;
  std::vector<std::string> m_texts;  // the first kReportedMax, in the order met
};

// Each attribute given twice in one element of a loaded document (which XML
// forbids and the parser lets pass), naming the value every reader uses: the
// first. fileWords names the file ("settings file", "link-criteria file").
void NoteRepeatedAttributes(const CXMLDocument& document, const char* fileWords, const std::string& path,
                            CSettingsMistakes& mistakes);

// Bytes that are not UTF-8 in a file that declares no other set: the texts
// holding them are read as they stand, which is not what the editor wrote.
void NoteBytesNotUTF8(const CXMLDocument& document, const char* fileWords, const std::string& path,
                      CSettingsMistakes& mistakes);

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

// Reports, once per load, a load that failed: the parser's reason when the
// parser gave one, else what stopped the reader. Every way a load of a
// settings file can fail ends here, so none is left to the debug log alone.
class CLoadFailureReport {
 public:
  CLoadFailureReport(const std::string& path, bool settingsInForce) : m_path(path), m_bInForce(settingsInForce) {}
  void Report(const XMLLoadFailure& failure);
  // A reader failure that is no parse error: an HRESULT, or an exception's text.
  void ReportCode(HRESULT hr);
  void ReportText(const char* what);
  // Marks a failure that was reported in its own words.
  void MarkReported() { m_bReported = true; }

 private:
  std::string m_path;
  bool m_bInForce;
  bool m_bReported = false;
};
