#include "host/hx_start_events.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/event_source.h"

namespace {

std::mutex& Lock() {
  static std::mutex* lock = new std::mutex();  // reports may come from exit handlers
  return *lock;
}

std::vector<HxStartEvents*>& Collectors() {
  static auto* collectors = new std::vector<HxStartEvents*>();
  return *collectors;
}

const char* TypeName(WORD type) {
  if (type == EVENTLOG_ERROR_TYPE) return "ERROR";
  if (type == EVENTLOG_WARNING_TYPE) return "WARNING";
  return "INFORMATION";
}

// One line per report: the system's message texts end in a line break.
std::string OneLine(const char* text) {
  std::string line;
  for (const char* p = text; *p != '\0'; ++p) {
    const bool lineBreak = *p == '\r' || *p == '\n';
    if (!lineBreak) {
      line += *p;
    } else if (!(*p == '\n' && p > text && p[-1] == '\r')) {
      line += ' ';
    }
  }
  return line;
}

}  // namespace

void HxStartEventsAdd(const std::string& line) {
  std::lock_guard<std::mutex> guard(Lock());
  for (HxStartEvents* c : Collectors()) c->m_lines.push_back(line);
}

HxStartEvents::HxStartEvents() {
  std::lock_guard<std::mutex> guard(Lock());
  Collectors().push_back(this);
}

HxStartEvents::~HxStartEvents() {
  std::lock_guard<std::mutex> guard(Lock());
  auto& all = Collectors();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

std::vector<std::string> HxStartEvents::Lines() const {
  std::lock_guard<std::mutex> guard(Lock());
  return m_lines;
}

// The module's event log calls this after each report (the executable must
// export it).
extern "C" __attribute__((visibility("default"))) void HxEventReported(const char* /*source*/, WORD type,
                                                                       DWORD eventId, const char* text) {
  char head[48];
  std::snprintf(head, sizeof head, "%s 0x%08X: ", TypeName(type), static_cast<unsigned>(eventId));
  HxStartEventsAdd(head + OneLine(text != nullptr ? text : ""));
}
