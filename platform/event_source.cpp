#include "platform/event_source.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/standard_streams.h"

namespace {

// The identifier of the module's general reports.
constexpr unsigned kFileRefusedEventId = 0x60000074;

struct EventSource {
  std::string name;
};

struct EventLogState {
  std::mutex lock;
  std::set<EventSource*> live;
  bool fileSet = false;
  std::string file;
  // The report file last refused, said once rather than at every report.
  std::string refusedFile;
  // The report file that passed the file rule, kept while its name still
  // stands for it (the system's log rotation moves it aside) and for a
  // second at most: walking its folders from the root at every report would
  // cost more than the report.
  int keptFd = -1;
  std::string keptFile;
  dev_t keptDevice = 0;
  ino_t keptInode = 0;
  // The kept descriptor is a copy of the process's standard error, which
  // the name leads to (/dev/stderr in a container).
  bool keptIsStandardError = false;
  std::chrono::steady_clock::time_point keptAt;
};

EventLogState& State() {
  static EventLogState* s = new EventLogState();  // reports may come from exit handlers
  return *s;
}

// A report quotes what clients sent (a URL, a User-Agent): no control
// character of theirs reaches the terminal that shows the file (standard
// error is often one) as anything but text.
void AppendEscaped(std::string& out, const char* s) {
  for (; *s != '\0'; ++s) {
    const auto byte = static_cast<unsigned char>(*s);
    switch (*s) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          out += hex;
        } else {
          out += *s;
        }
        break;
    }
  }
}

PFN_HxEventReported HostListener() {
  static const PFN_HxEventReported fn =
      reinterpret_cast<PFN_HxEventReported>(dlsym(RTLD_DEFAULT, HX_EVENT_LISTENER_EXPORT));
  return fn;
}

const char* TypeName(WORD type) {
  if (type == EVENTLOG_ERROR_TYPE) return "ERROR";
  if (type == EVENTLOG_WARNING_TYPE) return "WARNING";
  return "INFORMATION";
}

// A report in syslog is one line, as in the file: a line break in a text
// (a path from a setting may hold one) would let it pass for another report.
void SyslogReport(int priority, const std::string& source, DWORD eventId, const char* text) {
  std::string shown;
  AppendEscaped(shown, text);
  // The C library keeps the socket it opens here: never as standard error.
  CStandardStreamsHeld held;
  syslog(LOG_USER | priority, "%s: event 0x%08X: %s", source.c_str(), static_cast<unsigned>(eventId), shown.c_str());
}

// The report file cannot say that it is refused: standard error, syslog
// and the host's listener do, once per file, so the administrator learns
// where the reports went (a container often has no syslog).
void NoteReportFile(const std::string& source, const std::string& file, const std::string& refusal) {
  EventLogState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (refusal.empty()) {
      s.refusedFile.clear();
      return;
    }
    if (s.refusedFile == file) return;
    s.refusedFile = file;
  }
  const std::string text = "The event file " + file + " (HX_EVENTLOG_FILE) is not written: " + refusal +
                           "; the events go to syslog only.";
  // One line there too: standard error may be where the events go, and a
  // line break in the file's name would let it pass for another report.
  std::string shown = source + ": ";
  AppendEscaped(shown, text.c_str());
  WriteToStandardError(shown + "\n");
  SyslogReport(LOG_WARNING, source, kFileRefusedEventId, text.c_str());
  if (PFN_HxEventReported listener = HostListener()) {
    listener(source.c_str(), EVENTLOG_WARNING_TYPE, kFileRefusedEventId, text.c_str());
  }
}

// The report file's descriptor, under the state lock; -1 with the reason
// in refusal when the rule refused it.
int ReportFileLocked(EventLogState& s, const std::string& file, std::string* refusal) {
  const auto now = std::chrono::steady_clock::now();
  if (s.keptFd >= 0 && s.keptFile == file && now - s.keptAt < std::chrono::seconds(1)) {
    struct stat named{};
    const int seen = s.keptIsStandardError ? stat(file.c_str(), &named) : lstat(file.c_str(), &named);
    if (seen == 0 && named.st_dev == s.keptDevice && named.st_ino == s.keptInode &&
        (s.keptIsStandardError || named.st_nlink == 1)) {
      return s.keptFd;
    }
  }
  if (s.keptFd >= 0) ::close(s.keptFd);
  s.keptFd = -1;
  s.keptIsStandardError = false;
  // A name of descriptor 2 (/dev/stderr, /dev/fd/2) is written only while
  // that is the standard error the process was started with: one started
  // with it closed gives the number to the next object opened, and the
  // events would be written into that.
  struct stat leadsTo{};
  struct stat current{};
  int openError = 0;
  bool notStandardError = false;
  if (stat(file.c_str(), &leadsTo) == 0 && fstat(STDERR_FILENO, &current) == 0 &&
      leadsTo.st_dev == current.st_dev && leadsTo.st_ino == current.st_ino && !IsInheritedStandardError()) {
    notStandardError = true;
    *refusal = file + " leads to descriptor 2, which is not the standard error the process was started with (it "
               "was closed then, and the number was given to another object since)";
  } else {
    s.keptFd = OpenFileForOwnerAndGroup(file.c_str(), O_WRONLY | O_APPEND, refusal);
    openError = errno;
  }
  if (s.keptFd < 0 && !notStandardError) {
    // The process's own standard error, named through its links, is already
    // the process's: written through the descriptor it has, never opened
    // again by name. Only through links no other user could have put: one
    // of theirs leading there would take the events from the file named
    // without a word, so it is named instead.
    struct stat named{};
    struct stat standardError{};
    int onTheWay = 0;
    const std::string theirs = WhyFolderIsUnsafe(file, nullptr, &onTheWay);
    if (onTheWay == EACCES) {
      *refusal = theirs;
    } else if (fstat(STDERR_FILENO, &standardError) != 0) {
      // /dev/stderr then leads nowhere: said as such, as "is a link" would
      // send the administrator to the name rather than to how the server
      // was started.
      if (stat(file.c_str(), &named) != 0) {
        *refusal = file + " leads nowhere, and the process has no standard error (descriptor 2 is closed)";
      }
    } else if (stat(file.c_str(), &named) == 0 && named.st_dev == standardError.st_dev &&
               named.st_ino == standardError.st_ino && IsInheritedStandardError()) {
      s.keptFd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      if (s.keptFd >= 0) {
        refusal->clear();
        s.keptIsStandardError = true;
      }
    }
  }
  // A name that is a folder, or a folder that is missing, is said as well:
  // the reports would otherwise vanish from the file without a word.
  if (s.keptFd < 0 && refusal->empty()) *refusal = std::strerror(openError);
  struct stat st{};
  if (s.keptFd >= 0 && fstat(s.keptFd, &st) != 0) {
    ::close(s.keptFd);
    s.keptFd = -1;
  }
  if (s.keptFd < 0) return -1;
  s.keptFile = file;
  s.keptDevice = st.st_dev;
  s.keptInode = st.st_ino;
  s.keptAt = now;
  return s.keptFd;
}

}  // namespace

void SetEventReportFile(const std::string& path) {
  EventLogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.fileSet = true;
  s.file = path;
  if (s.keptFd >= 0 && s.keptFile != path) {
    ::close(s.keptFd);
    s.keptFd = -1;
  }
}

std::string EventReportFile() {
  EventLogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.fileSet) return s.file;
  const char* env = std::getenv("HX_EVENTLOG_FILE");
  return env != nullptr ? std::string(env) : std::string();
}

HANDLE RegisterEventSourceA(LPCSTR, LPCSTR sourceName) {
  if (sourceName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* src = new (std::nothrow) EventSource{sourceName};
  if (src == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  EventLogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.live.insert(src);
  return src;
}

BOOL DeregisterEventSource(HANDLE source) {
  auto* src = static_cast<EventSource*>(source);
  EventLogState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.live.erase(src) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  delete src;
  return TRUE;
}

BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, void*, WORD numStrings, DWORD,
                  LPCSTR* strings, LPVOID) {
  auto* src = static_cast<EventSource*>(source);
  EventLogState& s = State();
  // The source's name is copied under the lock: a deregistration on another
  // thread may free the source while this report is being written.
  std::string name;
  std::string file;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.live.count(src) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    name = src->name;
  }
  std::string line = name;
  file = EventReportFile();
  char head[64];
  std::snprintf(head, sizeof head, "\t%s\t0x%08X\t%u", TypeName(type), static_cast<unsigned>(eventId),
                static_cast<unsigned>(category));
  line += head;
  std::string text;
  for (WORD i = 0; i < numStrings && strings != nullptr; ++i) {
    line += '\t';
    if (strings[i] != nullptr) {
      AppendEscaped(line, strings[i]);
      if (i != 0) text += ' ';
      text += strings[i];
    }
  }
  int priority = type == EVENTLOG_ERROR_TYPE ? LOG_ERR : type == EVENTLOG_WARNING_TYPE ? LOG_WARNING : LOG_INFO;
  SyslogReport(priority, name, eventId, text.c_str());
  if (PFN_HxEventReported listener = HostListener()) listener(name.c_str(), type, eventId, text.c_str());
  if (!file.empty()) {
    line += '\n';
    // One append-mode write per report keeps lines whole across threads and
    // processes. Events name users, paths and, at setting 14 = 10, every
    // debug-log line: the file is made for the server's user and group only,
    // whatever the umask.
    std::string refusal;
    ssize_t n = -1;
    bool opened = false;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      const int fd = ReportFileLocked(s, file, &refusal);
      opened = fd >= 0;
      // A pipe or socket whose reader went (a log collector restarted)
      // gives EPIPE here, never the signal that would end the process; a
      // file passed the file rule as a regular one, which raises none.
      if (opened) {
        n = s.keptIsStandardError ? WriteWithoutSigpipe(fd, line.data(), line.size())
                                  : ::write(fd, line.data(), line.size());
      }
      if (opened && n < 0) refusal = "it cannot be written, as " + WriteFailureText(errno);
      if (opened && n >= 0 && n < static_cast<ssize_t>(line.size())) {
        // A full volume took part of the line: it is cut off again, as the
        // next report would be read as its end. The file's end is still this
        // one's when no other process wrote after it.
        refusal = "it cannot be written, as " + WriteFailureText(ENOSPC);
        struct stat now{};
        const off_t end = lseek(fd, 0, SEEK_CUR);
        if (n > 0 && !s.keptIsStandardError && end >= n && fstat(fd, &now) == 0 && now.st_size == end &&
            ftruncate(fd, end - n) != 0) {
          // Left as it is: nothing better can be done with the volume full.
        }
      }
    }
    NoteReportFile(name, file, refusal);
    if (!opened) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (n != static_cast<ssize_t>(line.size())) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
  }
  return TRUE;
}
