#include "platform/directory_password.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/file_system.h"

namespace {

constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidData = 13;

// Who owns an entry, in words: the user's name when it has one.
std::string OwnerWords(uid_t uid) {
  std::string words = "user " + std::to_string(uid);
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    words += std::string(" (") + found->pw_name + ")";
  }
  return words;
}

// Why the entries on an absolute path (each looked at itself, a link as a
// link) may be another user's doing, in words naming the entry; empty when
// none may. One that cannot be looked at fails too, with its errno in `err`:
// a missing name in a sticky folder may be another user's by the read.
std::string WhyAnothersOnTheWay(const std::string& path, int& err) {
  const uid_t self = geteuid();
  for (size_t end = 1;; end = path.find('/', end + 1)) {
    const std::string entry = end == std::string::npos ? path : path.substr(0, end);
    struct stat st{};
    if (lstat(entry.c_str(), &st) != 0) {
      err = errno;
      return std::strerror(err);
    }
    err = EACCES;
    if (st.st_uid != self && st.st_uid != 0) return entry + " belongs to " + OwnerWords(st.st_uid);
    // (A device or pipe is refused by the read, which names what it is.)
    const bool replaceable = S_ISREG(st.st_mode) || (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) == 0);
    std::string byAcl;
    if (replaceable && OthersMayWriteEntry(entry, st, &byAcl)) {
      return entry + " may be written by other users" + (byAcl.empty() ? "" : " (" + byAcl + ")");
    }
    if (end == std::string::npos) return std::string();
  }
}

// The first line of the file is sent to the directory as a password: a
// file another user put under the name, or a link another user put that
// leads to a secret of ours (/etc/shadow), must not be read. Every entry on
// the way, as named and as its links lead, belongs to this process's user or
// root, and a folder others may write to is sticky (as /tmp, where only an
// entry's owner may replace it): then nobody else can change what the read
// opens. Empty when it holds; else the reason, its errno in `err`.
std::string WhyNotTrusted(const std::string& path, int& err) {
  std::string why = WhyAnothersOnTheWay(path, err);
  if (!why.empty()) return why;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    err = errno;
    return std::strerror(err);
  }
  why = WhyAnothersOnTheWay(resolved, err);
  std::free(resolved);
  return why;
}

// What a look at the file shows; a change means it is read again. The
// stamp is the one a refused bind waits to see change.
struct FileIdentity {
  CFileStamp stamp;
  // Why the entries on its way may be another user's (they may be mended
  // while the file stays as it is).
  std::string untrusted;

  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  int err = 0;
  id.untrusted = WhyNotTrusted(path, err);
  id.stamp = StampOfFile(path.c_str());
  return id;
}

// The last read, kept for the life of the process (connections may be made
// while it exits).
struct PasswordRead {
  std::mutex lock;
  bool done = false;
  std::string path;
  FileIdentity identity;
  HRESULT hr = S_OK;
  std::string password;
  std::string why;
};

PasswordRead& LastRead() {
  static PasswordRead* read = new PasswordRead();
  return *read;
}

std::atomic<void (*)(const std::string&, bool)> g_report{nullptr};

bool IsAbsolute(const char* file) { return file != nullptr && file[0] == '/'; }

// Reads the file's first line; the result and the reason.
HRESULT ReadPasswordFile(const std::string& path, std::string& password, std::string& why) {
  std::string bytes;
  std::string reason;
  int err = 0;
  password.clear();
  why = WhyNotTrusted(path, err);
  if (why.empty() && !ReadWholeFile(path, &bytes, &reason, &err, kDirectoryPasswordFileMaxBytes)) why = reason;
  if (!why.empty()) {
    const DWORD code = err == EACCES || err == EPERM      ? kErrorAccessDenied
                       : err == EINVAL || err == EFBIG ? kErrorInvalidData
                                                       : kErrorFileNotFound;
    return HRESULT_FROM_WIN32(code);
  }
  password = bytes.substr(0, bytes.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    why = "its first line holds no password";
    return HRESULT_FROM_WIN32(kErrorInvalidData);
  }
  // A zero byte would end the password where the library reads it.
  if (password.find('\0') != std::string::npos) {
    password.clear();
    why = "its first line holds a zero byte";
    return HRESULT_FROM_WIN32(kErrorInvalidData);
  }
  why.clear();
  return S_OK;
}

// Whether every user of the computer may read the file: it lets them, and
// so does every folder on its way (a folder of mode 700 keeps them out).
bool ReadableByAll(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  std::string at = real;
  free(real);
  struct stat st{};
  if (stat(at.c_str(), &st) != 0 || (st.st_mode & S_IROTH) == 0) return false;
  for (size_t slash; (slash = at.rfind('/')) != std::string::npos;) {
    at.resize(slash);
    if (stat(at.empty() ? "/" : at.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
  }
  return true;
}

void ReportReadableByAll(const char* file) {
  void (*report)(const std::string&, bool) = g_report.load(std::memory_order_acquire);
  if (report == nullptr) return;
  report("The directory password file " + DirectoryPasswordFileName(file) +
             " (HX_LDAP_PASSWORD_FILE) may be read by every user of this computer: its password is used, but any "
             "local user can read it and bind as the module. Make it readable by the server's user only (chmod "
             "600).",
         true);
}

void Report(const char* file, const std::string& why) {
  void (*report)(const std::string&, bool) = g_report.load(std::memory_order_acquire);
  if (report == nullptr) return;
  report("The directory password file " + DirectoryPasswordFileName(file) + " (HX_LDAP_PASSWORD_FILE) cannot be used: " +
         why +
         ". No bind is made without its password: directory look-ups fail (users' languages come from their "
         "browsers, the file-access rules keep their defaults) until the file is corrected; it is read again when "
         "it changes.",
         false);
}

}  // namespace

std::string DirectoryPasswordFileName(const char* file) {
  if (IsAbsolute(file)) return file;
  return "named by a value that is not an absolute path (not shown: it may be the password itself)";
}

HRESULT DirectoryPassword(const char* file, std::string& password, std::string& why, CFileStamp* stamp) {
  password.clear();
  if (stamp != nullptr) *stamp = CFileStamp{};
  if (file == nullptr) return S_OK;
  PasswordRead& last = LastRead();
  const std::string path = file;
  const FileIdentity identity = IsAbsolute(file) ? IdentityOf(path) : FileIdentity{};
  std::unique_lock<std::mutex> hold(last.lock);
  bool report = false;
  bool readableByAll = false;
  if (!last.done || last.path != path || !(last.identity == identity)) {
    last.done = true;
    last.path = path;
    last.identity = identity;
    if (IsAbsolute(file)) {
      last.hr = ReadPasswordFile(path, last.password, last.why);
    } else {
      last.password.clear();
      last.why = "the name is not an absolute path";
      last.hr = HRESULT_FROM_WIN32(kErrorFileNotFound);
    }
    report = FAILED(last.hr);
    readableByAll = SUCCEEDED(last.hr) && ReadableByAll(path);
  }
  why = last.why;
  if (stamp != nullptr) *stamp = last.identity.stamp;
  const HRESULT hr = last.hr;
  if (SUCCEEDED(hr)) password = last.password;
  hold.unlock();
  // Outside the lock: the report writes an event.
  if (report) Report(file, why);
  if (readableByAll) ReportReadableByAll(file);
  return hr;
}

void SetDirectoryPasswordReportCallback(void (*callback)(const std::string& text, bool warning)) {
  g_report.store(callback, std::memory_order_release);
}
