#include "common/log_stops.h"

#include <atomic>
#include <map>
#include <mutex>

#include "common/event_log.h"
#include "platform/file_system.h"
#include "platform/shared_memory.h"

namespace debug_log_detail {

namespace {

struct Stops {
  std::mutex lock;
  std::map<std::string, std::string> stopped;  // file -> why
  std::atomic<bool> any{false};
};

Stops& TheStops() {
  static Stops* stops = new Stops();  // lines come from exit handlers too
  return *stops;
}

}  // namespace

void NoteLogStopped(const std::string& file, const std::string& reason, bool alreadySaid) {
  Stops& stops = TheStops();
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    if (!stops.stopped.emplace(file, reason).second) return;
    stops.any.store(true, std::memory_order_release);
  }
  if (alreadySaid) return;
  LogEventF(EVENTLOG_WARNING_TYPE,
            "The debug log file %s is not written: %s. Its lines are dropped until it can be written again, which "
            "is said as well.",
            file.c_str(), reason.c_str());
}

void NoteLogWritten(const std::string& file) {
  Stops& stops = TheStops();
  if (!stops.any.load(std::memory_order_acquire)) return;
  std::string why;
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    const auto found = stops.stopped.find(file);
    if (found == stops.stopped.end()) return;
    why = found->second;
    stops.stopped.erase(found);
    stops.any.store(!stops.stopped.empty(), std::memory_order_release);
  }
  LogEventF(EVENTLOG_INFORMATION_TYPE,
            "The debug log file %s is written again; the lines since it stopped (%s) are lost.", file.c_str(),
            why.c_str());
}

void NoteWriteOutFailed(const std::string& file, int err, bool ring) {
  Stops& stops = TheStops();
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    if (!stops.stopped.emplace(file, "as the process ended").second) return;
    stops.any.store(true, std::memory_order_release);
  }
  const std::string why = WriteFailureText(err);
  if (ring) {
    const std::string name = file.substr(file.find_last_of('/') + 1);
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log file %s could not take the records of the shared-memory ring %s as the process ended, "
              "as %s; the records stay in the ring until a later write-out.",
              file.c_str(), ShmPathFromWindowsName(("Global\\" + name).c_str()).c_str(), why.c_str());
  } else {
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log file %s could not take its last lines as the process ended, as %s; they are lost.",
              file.c_str(), why.c_str());
  }
}

}  // namespace debug_log_detail
