#include "general/host_probes.h"

#include <vector>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "platform/computer_name.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace {

// A REG_DWORD value, or false.
bool ReadDword(HKEY key, const char* name, DWORD& value, DWORD* typeOut = nullptr) {
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof data;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (typeOut != nullptr) *typeOut = rc == 0 || rc == static_cast<LONG>(ERROR_MORE_DATA) ? type : REG_NONE;
  if (rc != 0 || type != REG_DWORD || size != sizeof data) return false;
  value = data;
  return true;
}

void TrimBlanks(ci_string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  s = s.substr(b, e - b);
}

bool CutBefore(ci_string& userName, char separator) {
  const size_t at = userName.find(separator);
  if (at + 1 == userName.size()) {
    DebugLog("CGeneralSettings::ExtractUserName got an invalid Username format %s ", ToStd(userName).c_str());
    return false;
  }
  userName.erase(0, at + 1);
  return true;
}

// "COM" or "LPT" (the first of each) followed by a digit that ends the name
// or comes before a ".".
bool IsPortName(const ci_string& name, const char* port) {
  const size_t at = name.find(port);
  if (at == ci_string::npos) return false;
  const size_t digit = at + 3;
  if (digit >= name.size() || name[digit] < '0' || name[digit] > '9') return false;
  return digit + 1 == name.size() || name[digit + 1] == '.';
}

}  // namespace

DWORD ExchangeGenerationOfBuild(DWORD build) {
  if (build >= 4001 && build <= 5999) return 1;
  if (build >= 6001 && build <= 9999) return 2;
  if (build >= 10000 && build <= 10399) return 4;
  if (build >= 10400) return 8;
  return 0;
}

void ReportUnreadableRegistryFile() {
  const std::string problem = RegistryFileProblem();
  if (problem.empty()) return;
  const std::string path = RegistryFilePath();
  DebugLog("The registry file %s %s", path.c_str(), problem.c_str());
  LogEventF(EVENTLOG_WARNING_TYPE,
            "The registry file %s %s; every registry key reads as absent: the mail server's generation is unknown, "
            "SSL off-loading is off, and a file type the mail server lists by MIME type alone is not recognised. "
            "Put registry.reg at the top of the install tree, or name it with HX_REGISTRY_FILE.",
            path.c_str(), problem.c_str());
}

DWORD ReadExchangeGeneration() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Exchange\\Setup", 0, KEY_READ, &key) != 0 &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\ExchangeServer\\v14\\Setup", 0, KEY_READ, &key) != 0) {
    return 0;
  }
  DWORD newestBuild = 0;
  DWORD generation = 0;
  if (ReadDword(key, "NewestBuild", newestBuild)) generation = ExchangeGenerationOfBuild(newestBuild);
  DWORD buildMajor = 0;
  DWORD buildMinor = 0;
  DWORD productMajor = 0;
  DWORD productMinor = 0;
  ReadDword(key, "MsiBuildMajor", buildMajor);
  ReadDword(key, "MsiBuildMinor", buildMinor);
  ReadDword(key, "MsiProductMajor", productMajor);
  ReadDword(key, "MsiProductMinor", productMinor);
  DebugLog("Exchange NewestBuild %d, Version %d.%d.%d.%d", static_cast<int>(newestBuild),
           static_cast<int>(productMajor), static_cast<int>(productMinor), static_cast<int>(buildMajor),
           static_cast<int>(buildMinor));
  RegCloseKey(key);
  return generation;
}

DWORD ReadSSLOffloaded(DWORD& offloaded) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\MSExchange OWA", 0, KEY_READ,
                          &key);
  if (rc != 0) return static_cast<DWORD>(rc);
  DWORD value = 0;
  DWORD type = REG_NONE;
  DWORD result = 0;
  if (ReadDword(key, "SSLOffloaded", value, &type)) {
    offloaded = value == 1 ? 1 : 0;
  } else if (type != REG_NONE) {
    result = ERROR_INVALID_DATA;
    value = 0;
  } else {
    result = ERROR_FILE_NOT_FOUND;
  }
  DebugLog("GetRegistryInfo SSLOffloaded %d", static_cast<int>(value));
  RegCloseKey(key);
  return result;
}

bool ReadComputerNames(std::string& hostName, std::string& fullyQualifiedName) {
  DWORD size = 0;
  std::vector<char> buffer;
  const BOOL sized = GetComputerNameExA(ComputerNameDnsFullyQualified, nullptr, &size);
  if (!sized && GetLastError() == ERROR_MORE_DATA) {
    buffer.assign(size + 1, '\0');
    DWORD capacity = size + 1;
    if (GetComputerNameExA(ComputerNameDnsFullyQualified, buffer.data(), &capacity)) {
      fullyQualifiedName = buffer.data();
      DebugLog("GetComputerName ComputerNameDnsFullyQualified %s", fullyQualifiedName.c_str());
    } else {
      DebugLogError(GetLastError(), "Failed to get computer name ComputerNameDnsFullyQualified Error: %d",
                    static_cast<int>(GetLastError()));
    }
  } else {
    DebugLog("Failed to get the size for computer name  Error: %d Ret %d", static_cast<int>(GetLastError()),
             static_cast<int>(sized));
  }
  // The host name is read into the same buffer first.
  DWORD capacity = static_cast<DWORD>(buffer.size());
  BOOL ok = GetComputerNameExA(ComputerNameDnsHostname, buffer.empty() ? nullptr : buffer.data(), &capacity);
  if (ok && !buffer.empty() && buffer[0] != '\0') {
    hostName = buffer.data();
    DebugLog("GetComputerName ComputerNameDnsHostname %s Err: %d", hostName.c_str(), 0);
    return true;
  }
  if (!ok && GetLastError() == ERROR_MORE_DATA) {
    buffer.assign(capacity + 1, '\0');
    DWORD again = capacity + 1;
    if (GetComputerNameExA(ComputerNameDnsHostname, buffer.data(), &again)) {
      hostName = buffer.data();
      DebugLog("GetComputerName ComputerNameDnsHostname %s", hostName.c_str());
      return true;
    }
    DebugLog("Failed to get computer name ComputerNameDnsHostname Error: %d", static_cast<int>(GetLastError()));
    return false;
  }
  DebugLog("Failed to get the size for computer name ComputerNameDnsHostname Error: %d Ret %d",
           static_cast<int>(GetLastError()), ok ? 1 : 0);
  return false;
}

bool ExtractUserNameInPlace(ci_string& userName) {
  if (userName.empty()) {
    DebugLog("[CGeneralSettings::ExtractUserName] Username is empty.");
    return false;
  }
  if (userName.find('\\') != ci_string::npos) return CutBefore(userName, '\\');
  const size_t at = userName.find('@');
  if (at != ci_string::npos) {
    if (at + 1 == userName.size()) return true;
    userName.resize(at);
    return true;
  }
  if (userName.find('/') != ci_string::npos) return CutBefore(userName, '/');
  return true;
}

const std::vector<std::string>& ReservedDeviceNames() {
  static const std::vector<std::string> names = {"AUX", "CON", "NUL", "PRN", "CLOCKS$"};
  return names;
}

void SanitizeFileName(ci_string& fileName) {
  TrimBlanks(fileName);
  for (char& c : fileName) {
    switch (c) {
      case '\\': case '/': case ':': case '"': case '?': case '*': case '<': case '>': case '|':
        c = '_';
        break;
      default:
        break;
    }
  }
}

bool IsAllowedFileName(ci_string& fileName, const std::vector<std::string>& reservedNames) {
  TrimBlanks(fileName);
  // The folder itself or the one above: no file can have either name.
  if (fileName == ci_string(".") || fileName == ci_string("..")) return false;
  for (const std::string& reserved : reservedNames) {
    if (fileName == ToCI(reserved)) return false;
  }
  return !IsPortName(fileName, "COM") && !IsPortName(fileName, "LPT");
}
