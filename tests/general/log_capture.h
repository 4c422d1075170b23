// Captures the debug log's lines for a test.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/debug_log.h"

class CLogCapture {
 public:
  CLogCapture() {
    Lines().clear();
    m_previousSink = GetLogSink();
    m_previousMode = GetLogMode();
    SetLogSink(&Sink);
    SetLogMode(LOG_MODE_WRITE);
  }
  ~CLogCapture() {
    SetLogMode(m_previousMode);
    SetLogSink(m_previousSink);
  }
  CLogCapture(const CLogCapture&) = delete;
  CLogCapture& operator=(const CLogCapture&) = delete;

  static std::vector<std::string> Taken() {
    std::lock_guard<std::mutex> guard(Lock());
    return Lines();
  }
  static bool Has(const std::string& text) {
    for (const std::string& line : Taken()) {
      if (line == text) return true;
    }
    return false;
  }

 private:
  static std::mutex& Lock() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static void Sink(const char* text) {
    std::lock_guard<std::mutex> guard(Lock());
    Lines().push_back(text);
  }
  LogSinkFn m_previousSink;
  DWORD m_previousMode;
};
