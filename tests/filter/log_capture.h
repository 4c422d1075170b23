// Captures the debug-log lines written while it lives.
#pragma once

#include <string>
#include <vector>

#include "common/debug_log.h"

class LogCapture {
 public:
  LogCapture() : m_previousSink(GetLogSink()), m_previousMode(GetLogMode()) {
    Lines().clear();
    SetLogSink(&Capture);
    SetLogMode(LOG_MODE_WRITE);
  }
  ~LogCapture() {
    SetLogMode(m_previousMode);
    SetLogSink(m_previousSink);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  bool Has(const std::string& line) const {
    for (const std::string& l : Lines()) {
      if (l == line) return true;
    }
    return false;
  }

 private:
  static void Capture(const char* text) { Lines().emplace_back(text); }
  LogSinkFn m_previousSink;
  DWORD m_previousMode;
};
