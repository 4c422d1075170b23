#include "general/file_version_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/file_version.h"
#include "platform/last_error.h"

bool CFileVersionInfo::Open(const char* fileName) {
  Close();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(fileName, &handle);
  if (size == 0) return false;
  m_block.assign(size, 0);
  if (!GetFileVersionInfoA(fileName, handle, size, m_block.data())) {
    Close();
    return false;
  }
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(m_block.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) {
    Close();
    return false;
  }
  const auto* words = static_cast<const unsigned char*>(value);
  const DWORD language = static_cast<DWORD>(words[0] | (words[1] << 8));
  const DWORD codePage = static_cast<DWORD>(words[2] | (words[3] << 8));
  m_dwTranslation = (language << 16) | codePage;
  return true;
}

void CFileVersionInfo::Close() {
  m_block.clear();
  m_block.shrink_to_fit();
  m_dwTranslation = 0;
}

std::string CFileVersionInfo::GetString(const char* name, DWORD translation) const {
  if (m_block.empty() || name == nullptr) return {};
  char subBlock[100];
  std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%08x\\%s",
                static_cast<unsigned>(translation != 0 ? translation : m_dwTranslation), name);
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(m_block.data(), subBlock, &value, &length) || value == nullptr) return {};
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

std::string CFileVersionInfo::GetFileVersion(const char*) { return GetString("FileVersion"); }

std::string CFileVersionInfo::GetProductVersion(const char*) { return GetString("ProductVersion"); }

HRESULT CFileVersionInfo::GetLastWriteTime(const char* path, FILETIME& fileTime) {
  if (path == nullptr) return E_INVALIDARG;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  struct stat st {};
  int rc = ::fstat(fd, &st);
  int err = errno;
  ::close(fd);
  if (rc != 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
  // 100-nanosecond intervals since 1601-01-01.
  const uint64_t ticks = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u;
  fileTime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return S_OK;
}
