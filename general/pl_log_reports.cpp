// Event reports about the debug log's set-up. Its settings take effect only
// at start-up, and what they do is not always what an administrator expects:
// a log switched on without the log module writes nothing, the default kind
// writes into a ring in shared memory that every install on the machine
// shares and that reaches the log file only when its maker ends, and a change
// made since start-up waits for the next one. Each is said once.
#include <sys/statvfs.h>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "general/pl_general_settings.h"
#include "platform/file_system.h"
#include "platform/module_path.h"
#include "platform/process_shared_lock.h"
#include "platform/shared_memory.h"
#include "settings/settings_paths.h"

namespace {

constexpr int32_t kLogKindRing = 1;
constexpr int32_t kLogKindRingFile = 2;

bool IsLevel(int32_t level) { return level == 0 || level == 1 || level == 10; }

}  // namespace

std::string CPLGeneralSettings::ModuleSettingsFile() const { return m_strSettingsDirectory + kModuleSettingsFileName; }

namespace {

// Why the log file's folder is refused by the rule every file the module
// writes goes through; empty when it is used (or is not there to judge).
std::string LogFolderRefusal() {
  const std::string logFile = ::GetLogFilePath();
  const size_t slash = logFile.find_last_of('/');
  if (slash == std::string::npos) return {};
  const std::string why = WhyFolderIsUnsafe(slash == 0 ? "/" : logFile.substr(0, slash));
  // Said here, at start-up, once: not again by the first line refused.
  if (!why.empty()) NoteLogFileRefusalReported();
  return why;
}

// Why the log module's lock of that name could not be had, naming its object
// in /dev/shm and, when it is another user's, that user.
std::string LogLockRefusal(const std::string& lockName) {
  if (lockName.empty()) return {};
  const std::string section = LogModuleLockSection(lockName);
  const std::string path = ShmPathFromWindowsName(section.c_str());
  const std::string refused = WhyNamedSectionIsRefused(section.c_str());
  if (refused.empty()) {
    // Any user can fill /dev/shm; a lock is then not made there.
    struct statvfs fs{};
    if (statvfs("/dev/shm", &fs) == 0 && fs.f_blocks > 0 && fs.f_bavail == 0) {
      return ": its lock " + path + " could not be made, as /dev/shm has no room left";
    }
    return ": its lock " + path + " could not be opened or made";
  }
  return ": its lock " + path + " is there already and is not used, as " + refused +
         "; remove it with every process of the product family stopped";
}

}  // namespace

std::string CPLGeneralSettings::WhyLogWritesNothing(const LogSettings& used) const {
  if (GetLogSink() == &EventLogSink) return {};
  const std::string logModule = m_strCommonFilesDirectory + "bin/" + ModuleFileNameForPlatform("LogModule.dll");
  if (m_spLogModule.IsNull()) {
    return "the log module " + logModule + " is not installed (nor found on the library path)";
  }
  if (GetLogSinkLock() == nullptr) {
    if (used.ownLog == 0 && used.fileNameSet && used.kind != kLogKindRing && used.kind != kLogKindRingFile) {
      return "with a log file name of its own (setting 23) only the kinds 1 and 2 (setting 12) ask the log "
             "module for its lock";
    }
    return "the log module " + logModule + " handed out no lock" + LogLockRefusal(m_strLogLockName);
  }
  if (GetLogSink() == &SharedMemoryLogSink) {
    const std::string ring = LogRingName();
    const std::string refused = WhyNamedSectionIsRefused(ring.c_str());
    if (!refused.empty()) {
      return "the shared-memory ring " + ShmPathFromWindowsName(ring.c_str()) + " is there already and is not used, as " +
             refused + "; remove it, or give this install a log file name of its own (setting 23)";
    }
  }
  if (GetLogSink() != &SharedMemoryLogSink) {
    const std::string folder = LogFolderRefusal();
    if (!folder.empty()) return "its folder is not used, as " + folder + "; name a folder of the server's own (setting 39)";
  }
  const bool sized = used.kind == kLogKindRing || used.kind == kLogKindRingFile;
  if (sized && GetLogRingSize() <= GetLogWrapPosition()) {
    return "its size (setting 13, " + std::to_string(used.sizeKB) + " KB) is not larger than the " +
           std::to_string(GetLogWrapPosition() / 1024) + " KB kept for its first records";
  }
  return {};
}

void CPLGeneralSettings::ReportLogSetUp(const LogSettings& used) {
  const std::string file = ModuleSettingsFile();
  if (!IsLevel(used.level)) {
    WriteEventLog(EVENTLOG_WARNING_TYPE,
                  "Setting 14 of %s is %d, which is no debug-log level (0 off, 1 on, 10 to the event log); "
                  "the debug log stays off.",
                  file.c_str(), static_cast<int>(used.level));
    return;
  }
  if (!used.On()) return;
  const std::string why = WhyLogWritesNothing(used);
  if (!why.empty()) {
    WriteEventLog(EVENTLOG_WARNING_TYPE, "The debug log is switched on (setting 14 of %s is %d) but writes nothing: %s.",
                  file.c_str(), static_cast<int>(used.level), why.c_str());
    return;
  }
  if (GetLogSink() != &SharedMemoryLogSink) return;
  const std::string ring = LogRingName();
  const std::string logFile = ::GetLogFilePath();
  const std::string folder = LogFolderRefusal();
  if (!folder.empty()) {
    WriteEventLog(EVENTLOG_WARNING_TYPE,
                  "The debug log writes its records into the shared-memory ring %s (setting 12 is 1), but %s is not "
                  "written when the process that made the ring ends: its folder is not used, as %s; name a folder "
                  "of the server's own (setting 39).",
                  ShmPathFromWindowsName(ring.c_str()).c_str(), logFile.c_str(), folder.c_str());
    return;
  }
  const std::string name = logFile.substr(logFile.find_last_of('/') + 1);
  LogEventF(EVENTLOG_INFORMATION_TYPE,
            "The debug log writes its records into the shared-memory ring %s (setting 12 is 1), not into %s: "
            "that file gets them only when the process that made the ring ends. Every process on this machine "
            "that logs under the file name %s writes into this one ring, whichever install it runs from%s.",
            ShmPathFromWindowsName(ring.c_str()).c_str(), logFile.c_str(), name.c_str(),
            used.ownLog == 0 && !used.fileNameSet ? "; a file name of this install's own (setting 23) gives it a ring of its own" : "");
}

void CPLGeneralSettings::ReportLogSettingsChange() {
  const LogSettings now = ReadLogSettings(m_settings, -1);
  std::lock_guard<std::mutex> guard(m_logChangeLock);
  if (now == m_logAtStart) {
    m_logChangeReported.reset();
    return;
  }
  if (m_logChangeReported == now) return;
  m_logChangeReported = now;
  const std::string changes = LogSettingsChanges(m_logAtStart, now);
  WriteEventLog(EVENTLOG_WARNING_TYPE,
                "The debug-log settings of %s changed (%s); they take effect only when the module starts again, "
                "and until then the debug log goes on as it started.",
                ModuleSettingsFile().c_str(), changes.c_str());
}
