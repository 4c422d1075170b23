#include "common/log_stops.h"

#include <sys/statvfs.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "common/event_log.h"
#include "platform/file_system.h"
#include "platform/shared_memory.h"

namespace debug_log_detail {

namespace {

// Room for a few whole lines of 2 KB: a full volume is written to again
// only then.
constexpr uint64_t kRoomToResume = 8192;

struct Stop {
  std::string why;
  bool full = false;
};

struct Stops {
  std::mutex lock;
  std::map<std::string, Stop> stopped;
  std::set<std::string> endsAtVolume;
  std::atomic<bool> any{false};
};

Stops& TheStops() {
  static Stops* stops = new Stops();  // lines come from exit handlers too
  return *stops;
}

// Said through the module's event log; at process exit, when the ring and
// the last batch are written out, the settings object has let its event
// source go already, and a source of its own says it.
void Say(WORD type, const char* format, ...) HX_PRINTF(2, 3);
void Say(WORD type, const char* format, ...) {
  char text[2049] = {};
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0) return;
  CEventLog* log = GetModuleEventLog();
  if (log != nullptr && log->IsRegistered()) {
    log->ReportEvent(type, 0, kGeneralReportEventId, 0, nullptr, text);
    return;
  }
  CEventLog own;
  if (own.Register(nullptr)) own.ReportEvent(type, 0, kGeneralReportEventId, 0, nullptr, text);
}

}  // namespace

void NoteLogStopped(const std::string& file, const std::string& reason, bool alreadySaid, bool full) {
  Stops& stops = TheStops();
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    if (!stops.stopped.emplace(file, Stop{reason, full}).second) return;
    stops.any.store(true, std::memory_order_release);
  }
  if (alreadySaid) return;
  Say(EVENTLOG_WARNING_TYPE,
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
    why = found->second.why;
    stops.stopped.erase(found);
    stops.any.store(!stops.stopped.empty(), std::memory_order_release);
  }
  Say(EVENTLOG_INFORMATION_TYPE,
            "The debug log file %s is written again; the lines since it stopped (%s) are lost.", file.c_str(),
            why.c_str());
}

bool LogWaitsForRoom(const std::string& file, int fd) {
  Stops& stops = TheStops();
  if (!stops.any.load(std::memory_order_acquire)) return false;
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    const auto found = stops.stopped.find(file);
    if (found == stops.stopped.end() || !found->second.full) return false;
  }
  struct statvfs fs{};
  if (fstatvfs(fd, &fs) != 0) return false;
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < kRoomToResume;
}

void NoteLogEndsAtItsVolume(const std::string& file, int64_t end, int32_t size, int32_t wrap) {
  Stops& stops = TheStops();
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    if (!stops.endsAtVolume.insert(file).second) return;
  }
  Say(EVENTLOG_WARNING_TYPE,
            "The debug log file %s (the wrap-around file) fills its volume at %lld KB, short of its size (setting "
            "13, %d KB): it wraps around there, the newest lines over the oldest after the first %d KB. Said once.",
            file.c_str(), static_cast<long long>(end >> 10), size >> 10, wrap >> 10);
}

void NoteWriteOutFailed(const std::string& file, int err, bool ring) {
  Stops& stops = TheStops();
  {
    std::lock_guard<std::mutex> guard(stops.lock);
    if (!stops.stopped.emplace(file, Stop{"as the process ended", false}).second) return;
    stops.any.store(true, std::memory_order_release);
  }
  const std::string why = WriteFailureText(err);
  if (ring) {
    const std::string name = file.substr(file.find_last_of('/') + 1);
    Say(EVENTLOG_WARNING_TYPE,
              "The debug log file %s could not take the records of the shared-memory ring %s as the process ended, "
              "as %s; the records stay in the ring until a later write-out.",
              file.c_str(), ShmPathFromWindowsName(("Global\\" + name).c_str()).c_str(), why.c_str());
  } else {
    Say(EVENTLOG_WARNING_TYPE,
              "The debug log file %s could not take its last lines as the process ended, as %s; they are lost.",
              file.c_str(), why.c_str());
  }
}

}  // namespace debug_log_detail
