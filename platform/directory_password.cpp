#include "platform/directory_password.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/file_system.h"

namespace {

constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidData = 13;

// What a stat of the file shows; a change means it is read again.
struct FileIdentity {
  int statError = 0;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& o) const {
    return statError == o.statError && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) {
    id.statError = errno;
    return id;
  }
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified = st.st_mtim;
  id.changed = st.st_ctim;
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

std::atomic<void (*)(const std::string&)> g_report{nullptr};

bool IsAbsolute(const char* file) { return file != nullptr && file[0] == '/'; }

// Reads the file's first line; the result and the reason.
HRESULT ReadPasswordFile(const std::string& path, std::string& password, std::string& why) {
  std::string bytes;
  std::string reason;
  int err = 0;
  password.clear();
  if (!ReadWholeFile(path, &bytes, &reason, &err, kDirectoryPasswordFileMaxBytes)) {
    why = reason;
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

void Report(const char* file, const std::string& why) {
  void (*report)(const std::string&) = g_report.load(std::memory_order_acquire);
  if (report == nullptr) return;
  report("The directory password file " + DirectoryPasswordFileName(file) + " (HX_LDAP_PASSWORD_FILE) cannot be used: " +
         why +
         ". No bind is made without its password: directory look-ups fail (users' languages come from their "
         "browsers, the file-access rules keep their defaults) until the file is corrected; it is read again when "
         "it changes.");
}

}  // namespace

std::string DirectoryPasswordFileName(const char* file) {
  if (IsAbsolute(file)) return file;
  return "named by a value that is not an absolute path (not shown: it may be the password itself)";
}

HRESULT DirectoryPassword(const char* file, std::string& password, std::string& why) {
  password.clear();
  if (file == nullptr) return S_OK;
  PasswordRead& last = LastRead();
  const std::string path = file;
  const FileIdentity identity = IsAbsolute(file) ? IdentityOf(path) : FileIdentity{};
  std::unique_lock<std::mutex> hold(last.lock);
  bool report = false;
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
  }
  why = last.why;
  const HRESULT hr = last.hr;
  if (SUCCEEDED(hr)) password = last.password;
  hold.unlock();
  // Outside the lock: the report writes an event.
  if (report) Report(file, why);
  return hr;
}

void SetDirectoryPasswordReportCallback(void (*callback)(const std::string& text)) {
  g_report.store(callback, std::memory_order_release);
}
