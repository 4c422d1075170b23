#include "general/pl_general_settings.h"

#include <algorithm>
#include <chrono>

#include "common/cookie_key.h"
#include "common/debug_log.h"
#include "common/file_utils.h"
#include "common/log_words.h"
#include "common/revert_to_self_guard.h"
#include "common/string_utils.h"
#include "general/ad_user_config.h"
#include "general/host_probes.h"
#include "general/resource_strings.h"
#include "platform/system_messages.h"
#include "platform/file_system.h"
#include "platform/adsi.h"
#include "platform/directory_back_off.h"
#include "platform/directory_look_ups.h"
#include "platform/directory_password.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/library_loader.h"
#include "platform/system_directory.h"
#include "platform/wide_text.h"
#include "settings/setting_ids.h"

namespace {

constexpr const char kCacheName[] = "ADUserConfig";
// Users whose answers the cache keeps (each with a few sessions): a user
// whose answer was used least recently goes first. README says what a site
// with more users than this pays.
constexpr int32_t kCacheMaxUsers = 20000;
constexpr int32_t kCacheLifetimeMinutes = 60;
// Names the directory does not know, kept briefly: a mistyped account must
// not make every request search, and an account made later is soon seen.
constexpr const char kNoUserCacheName[] = "ADUserConfigNoUser";
constexpr int32_t kNoUserLifetimeMinutes = 1;
// What a user found without the property is cached as: directory texts are
// never empty.
constexpr const char kNoValue[] = "";
constexpr const char kDefaultVirtualFolder[] = "X-Pellora";
// The background read of the OWA configuration has a limit of its own: no
// request waits on it, and a directory slow enough to overrun the start-up
// read's limit (five round trips at 1.2 s) must still get its rules read.
// TerminateFilter cuts a read under way: nobody waits on it, and the next
// start-up reads again.
constexpr auto kOWAReadAgainLimit = std::chrono::seconds(20);
// What a request that waited in vain for another's look-up fails with.
constexpr DWORD kErrorDsTimeLimitExceeded = 8226;
constexpr const char kLogFolderName[] = "QuenlithLogs";
constexpr const char kCommonLogFileName[] = "QLCommonLog.log";

using GetProductCSFn = int (*)(const char* name, CSync** lock, int option);
using GetGeneralCSFn = int (*)(CSync** lock, int option);

// Set by the first successful read of the OWA configuration; later start-ups
// of the process keep what it read.
std::atomic<bool> g_bOWAConfigRead{false};

// The settings object whose background read of the OWA configuration waits
// for the directory, told when a probe finds a directory answering again.
std::atomic<CPLGeneralSettings*> g_owaRereader{nullptr};

void DirectoryAnswersAgain() {
  CPLGeneralSettings* settings = g_owaRereader.load(std::memory_order_acquire);
  if (settings != nullptr) settings->NudgeOWARead();
}

// The settings object whose event log hears of a password file that cannot
// be used.
std::atomic<CPLGeneralSettings*> g_passwordReporter{nullptr};

void ReportPasswordFile(const std::string& text, bool warning) {
  CPLGeneralSettings* settings = g_passwordReporter.load(std::memory_order_acquire);
  if (settings == nullptr) return;
  settings->WriteEventLog(warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_ERROR_TYPE, "%s", text.c_str());
}

// Every ".dll" of the name (without case) becomes ".log".
std::string LogFileNameOfModule(const std::string& moduleName) {
  ci_string name = ToCI(moduleName);
  size_t at = 0;
  while ((at = name.find(".dll", at)) != ci_string::npos) {
    name.replace(at, 4, ".log");
    at += 4;
  }
  return ToStd(name);
}

}  // namespace

CPLGeneralSettings::CPLGeneralSettings() {
  g_passwordReporter.store(this, std::memory_order_release);
  SetDirectoryPasswordReportCallback(&ReportPasswordFile);
}

CPLGeneralSettings::~CPLGeneralSettings() {
  StopOWAReread();
  CPLGeneralSettings* self = this;
  g_passwordReporter.compare_exchange_strong(self, nullptr);
}

BOOL CPLGeneralSettings::Init(const char* productName, const char* moduleName, const char* resourceLibraryName,
                              const char* registryKey, int32_t directoryLevels) {
  m_pageCharSet.Init(productName, moduleName, resourceLibraryName);
  // One table for the life of the process: a table built again at every
  // start-up would read each attribute once more and repeat list entries.
  if (m_OWAADConfig.m_vProperties.empty()) m_OWAADConfig.InitPropertyTable();
  // A new start after TerminateFilter begins clean: a password refused
  // before may have been corrected in the directory meanwhile.
  if (!IsInitialised()) ForgetDirectoryVerdicts();
  BOOL result = Base::Init(productName, moduleName, resourceLibraryName, registryKey, directoryLevels);
  const bool baseOk = result != 0;
  HRESULT owa = E_FAIL;
  if (GetComputerName()) {
    owa = ReadOWAADOrLater();
  } else {
    DebugLog("[CPLGeneralSettings::Init] GetComputerName failed");
  }
  DebugLog("[CPLGeneralSettings::Init] base::Init() %s, ReadOWAAD %s.", baseOk ? "SUCCEEDED" : "FAILED",
           SUCCEEDED(owa) ? "SUCCEEDED" : "FAILED");
  if (result && !InitializeCache()) result = 0;
  m_strVirtualFolderName.clear();
  if (result) {
    m_strVirtualFolderName = kDefaultVirtualFolder;
    if (!GetSettingFromID(SettingVirtualFolderName, m_strVirtualFolderName, 0, 0)) {
      DebugLog("[CPLGeneralSettings::Init] Failed to read 'Pellora Virtual folder name' setting. ID <%d>.",
               static_cast<int>(SettingVirtualFolderName));
    }
  }
  DebugLog("[CPLGeneralSettings::Init] returned bRet <%s>", TrueFalse(result != 0));
  return result;
}

DWORD CPLGeneralSettings::Uninitialize() {
  // The background read ends while the look-ups are awaited, not after
  // them: the host waits one look-up's limit in all.
  CutOWAReread();
  // Look-ups running now report their failures before the event source
  // closes; each ends within its limit, and its report follows at once.
  if (!AwaitDirectoryLookUpsInFlight(std::chrono::seconds(kADsTimeLimitSeconds + 1))) {
    DebugLog("[CPLGeneralSettings::Uninitialize] directory look-ups still running; their failures go unreported");
  }
  StopOWAReread();
  return Base::Uninitialize();
}

bool CPLGeneralSettings::InitializeCache() {
  if (!m_cache.Init()) {
    DebugLog("CPLGeneralSettings::InitializeCache failed to instantiate the Cache Object");
    return false;
  }
  if (!m_cache.CreateCache(kCacheName, kCacheMaxUsers, kCacheLifetimeMinutes)) {
    DebugLog("CPLGeneralSettings::InitializeCache CreateCache failed");
    return false;
  }
  if (!m_cache.CreateCache(kNoUserCacheName, kCacheMaxUsers, kNoUserLifetimeMinutes)) {
    // Only unknown names then search each time.
    DebugLog("CPLGeneralSettings::InitializeCache CreateCache of unknown users failed");
  }
  return true;
}

HRESULT CPLGeneralSettings::ReadOWAAD() {
  if (g_bOWAConfigRead) return S_OK;
  CRevertToSelfGuard revert;
  m_OWAADConfig.m_wstrServerName = WideFromBytes(m_strHostName);
  HRESULT hr = m_OWAADConfig.ReadProperties(std::wstring());
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "Reading OWA configuration failed 0x%x for %s %s", static_cast<unsigned>(hr),
                  m_strHostName.c_str(), m_strFullyQualifiedName.c_str());
    // What failed, so that a mistyped address, a missing password file and
    // refused credentials read apart.
    const std::string directory = ADsDescribeFailure(L"LDAP://rootDSE");
    LogError(static_cast<DWORD>(hr), EVENTLOG_ERROR_TYPE,
             "Reading OWA configuration failed HR: 0x%x for FQDNS: %s, DNS: %s; %s", static_cast<unsigned>(hr),
             m_strFullyQualifiedName.c_str(), m_strHostName.c_str(), directory.c_str());
    return hr;
  }
  g_bOWAConfigRead = true;
  return hr;
}

HRESULT CPLGeneralSettings::ReadOWAADOrLater() {
  const HRESULT hr = ReadOWAAD();
  if (FAILED(hr)) StartOWAReread();
  return hr;
}

void CPLGeneralSettings::NudgeOWARead() {
  {
    std::lock_guard<std::mutex> hold(m_owaRereadLock);
    m_owaRereadDue = true;
  }
  m_owaRereadWake.notify_all();
}

void CPLGeneralSettings::StartOWAReread() {
  std::lock_guard<std::mutex> hold(m_owaRereadLock);
  if (m_owaRereader.joinable()) return;
  // Tried at once: a directory too slow for the start-up read's limit is
  // read with the background's own.
  m_owaRereadDue = true;
  m_owaRereadStop = false;
  m_owaReadCut.store(false, std::memory_order_release);
  g_owaRereader.store(this, std::memory_order_release);
  SetDirectoryAnswersAgainCallback(&DirectoryAnswersAgain);
  m_owaRereader = std::thread([this] { RereadOWALoop(); });
}

void CPLGeneralSettings::CutOWAReread() {
  {
    std::lock_guard<std::mutex> hold(m_owaRereadLock);
    m_owaRereadStop = true;
  }
  m_owaReadCut.store(true, std::memory_order_release);
  m_owaRereadWake.notify_all();
}

void CPLGeneralSettings::StopOWAReread() {
  CutOWAReread();
  std::thread reader;
  {
    std::lock_guard<std::mutex> hold(m_owaRereadLock);
    reader = std::move(m_owaRereader);
  }
  CPLGeneralSettings* self = this;
  if (g_owaRereader.compare_exchange_strong(self, nullptr)) SetDirectoryAnswersAgainCallback(nullptr);
  // A read under way ends its waits at once; a connection being made, within
  // a request's limit.
  if (reader.joinable()) reader.join();
}

void CPLGeneralSettings::RereadOWALoop() {
  std::unique_lock<std::mutex> hold(m_owaRereadLock);
  while (!m_owaRereadStop) {
    m_owaRereadWake.wait_for(hold, std::chrono::seconds(kADsRetryIntervalSeconds),
                             [this] { return m_owaRereadDue || m_owaRereadStop; });
    if (m_owaRereadStop) return;
    m_owaRereadDue = false;
    hold.unlock();
    const bool read = RereadOWAConfig();
    hold.lock();
    if (read) return;
  }
}

bool CPLGeneralSettings::RereadOWAConfig() {
  if (g_bOWAConfigRead) return true;
  auto config = std::make_unique<COWAADConfig>();
  config->InitPropertyTable();
  config->m_wstrServerName = WideFromBytes(m_strHostName);
  CRevertToSelfGuard revert;
  CADsTimeLimit limit(kOWAReadAgainLimit, &m_owaReadCut);
  const HRESULT hr = config->ReadProperties(std::wstring());
  if (FAILED(hr)) {
    // Reported when start-up failed; each retry only to the debug log.
    DebugLogError(static_cast<DWORD>(hr), "Reading OWA configuration again failed 0x%x for %s %s",
                  static_cast<unsigned>(hr), m_strHostName.c_str(), m_strFullyQualifiedName.c_str());
    return false;
  }
  m_pOWAReread = std::move(config);
  m_pOWAConfig.store(m_pOWAReread.get(), std::memory_order_release);
  g_bOWAConfigRead = true;
  WriteEventLog(EVENTLOG_INFORMATION_TYPE,
                "Reading OWA configuration succeeded for FQDNS: %s, DNS: %s after the read at start-up had failed; "
                "its file-access rules apply from now on",
                m_strFullyQualifiedName.c_str(), m_strHostName.c_str());
  return true;
}

void CPLGeneralSettings::ForgetOWAConfigRead() { g_bOWAConfigRead = false; }

namespace {

// The value after the first `key` (ASCII case ignored) up to the next ";"
// or the end; empty when the key is missing or ends the text.
ci_string_view CookieValue(ci_string_view cookie, ci_string_view key) {
  const size_t found = FindCookieKey(cookie, key);
  if (found == ci_string_view::npos) return {};
  const size_t begin = found + key.size();
  if (begin >= cookie.size()) return {};
  return cookie.substr(begin, FindSeparator(cookie, ';', begin) - begin);
}

// The web client's session: "UserContext=" or else "sessionid=" of the
// cookie, else the user.
std::string SessionOfCookie(ci_string_view cookie, const std::string& shortName) {
  for (const char* key : {"UserContext=", "sessionid="}) {
    const ci_string_view session = CookieValue(cookie, key);
    if (!session.empty()) return std::string(session.data(), session.size());
    DebugLog("[CPLGeneralSettings::GetADProperty] Warning!: couldn't retrieve cookie or the cookie (%s) value is empty",
             key);
  }
  return shortName;
}

}  // namespace

HRESULT CPLGeneralSettings::GetADProperty(ci_string userName, const std::string& propertyName, std::string& value,
                                          ci_string_view cookie, const std::string& sid, bool report) {
  const std::string fullName = ToStd(userName);
  const bool reduced = ExtractUserName(userName);
  DebugLog("[CPLGeneralSettings::GetADProperty] Get property from cache, User: %s, SessionId: %s, Parameter Name: %s",
           fullName.c_str(), "", propertyName.c_str());
  // A name that cannot be reduced names nobody: the caller falls back.
  if (!reduced) return E_INVALIDARG;
  const std::string shortName = ToStd(userName);
  const std::string session = SessionOfCookie(cookie, shortName);
  // Users of one short name in two domains are two users: the cache key is
  // the SID or the whole name. The directory compares names without case:
  // so do the cache and the searches in flight.
  const std::string userKey = AsciiLower(fullName);
  const std::string& key = sid.empty() ? userKey : sid;

  // Never destroyed, as every static a request reaches: the process may end
  // under running requests.
  static const std::string& kCacheNameText = *new std::string(kCacheName);
  static const std::string& kNoUserCacheNameText = *new std::string(kNoUserCacheName);
  const uint64_t ticket = m_searches.Ticket();
  std::string cached;
  if (m_cache.GetItem(kCacheNameText, key, cached, session, propertyName)) {
    if (cached == kNoValue) {
      DebugLog("[CPLGeneralSettings::GetADProperty] Get property from cache successfull: the user has no value");
      return kADNoValue;
    }
    value = cached;
    DebugLog("[CPLGeneralSettings::GetADProperty] Get property from cache successfull, Value: %s !", value.c_str());
    return S_OK;
  }
  // While the directory is in its back-off every search would fail at once
  // and log nothing: the same failure comes without building one, and
  // without a look in the cache of unknown names, which only spares searches.
  HRESULT hr = CADUserConfig::DirectoryBackOffFailure();
  if (SUCCEEDED(hr) && m_cache.GetItem(kNoUserCacheNameText, key, cached, session, propertyName)) {
    DebugLog("[CPLGeneralSettings::GetADProperty] Get property from cache successfull: no such user");
    return kADNoValue;
  }
  DebugLog("[CPLGeneralSettings::GetADProperty] Warning!: Get property from cache FAILED, query AD");

  int32_t configType = 0;
  const bool configRead = GetSettingFromID(SettingADPropertyOption, configType, -1, 0);
  if (!configRead) {
    DebugLog("GetSettingFromID int failed ID %d, SettingID %d, EngineID %d", static_cast<int>(SettingADPropertyOption),
             -1, 0);
  }
  CADLookUpAnswer answer;
  ADSearchTurn turn = ADSearchTurn::Searched;
  // Until its failure is reported: the filter's termination waits for it.
  CDirectoryLookUpInFlight inFlight;
  if (SUCCEEDED(hr)) {
    const std::string searchKey = userKey + '\x1F' + sid + '\x1F' + propertyName;
    turn = m_searches.Share(
        searchKey, ticket, answer,
        [&](CADLookUpAnswer& a) {
          a.hr = LookUp(fullName, shortName, sid, propertyName, configRead, configType, a.value, a.outcome);
          KeepAnswer(a, key, session, propertyName, shortName);
        },
        std::chrono::seconds(kADsTimeLimitSeconds));
    // Kept under this request's session too.
    if (turn == ADSearchTurn::Shared) KeepAnswer(answer, key, session, propertyName, shortName);
    hr = answer.hr;
  }
  if (turn == ADSearchTurn::GaveUp) {
    DebugLog("[CPLGeneralSettings::GetADProperty] The look-up of %s by another request did not answer in time",
             fullName.c_str());
    return HRESULT_FROM_WIN32(kErrorDsTimeLimitExceeded);
  }
  if (answer.outcome == ADLookUpOutcome::Value) value = answer.value;
  // The request that searched reports; those that shared its answer do not.
  if (answer.outcome == ADLookUpOutcome::Failed && turn == ADSearchTurn::Searched) {
    ReportLookUpFailure(report, hr, propertyName, shortName);
  }
  return hr;
}

void CPLGeneralSettings::KeepAnswer(const CADLookUpAnswer& answer, const std::string& key, const std::string& session,
                                    const std::string& propertyName, const std::string& shortName) {
  switch (answer.outcome) {
    case ADLookUpOutcome::Value:
      DebugLog("[CPLGeneralSettings::GetADProperty] Get property from AD successfull, Value: %s.! Add to cache.",
               answer.value.c_str());
      StoreInCache(kCacheName, key, answer.value, session, propertyName, shortName);
      return;
    case ADLookUpOutcome::NoValue:
      // An answer as good as a value: asked again, it would be the same.
      StoreInCache(kCacheName, key, kNoValue, session, propertyName, shortName);
      return;
    case ADLookUpOutcome::NoUser:
      StoreInCache(kNoUserCacheName, key, kNoValue, session, propertyName, shortName);
      return;
    case ADLookUpOutcome::Failed:
      return;
  }
}

void CPLGeneralSettings::ReportLookUpFailure(bool report, HRESULT hr, const std::string& propertyName,
                                             const std::string& shortName) {
  if (report ? ADsLastFailureIsRepeat() : !ADsClaimFailureReport()) return;
  static const std::wstring& kCatalogPath = *new std::wstring(std::wstring(kADUserConfigProvider) + L":");
  const std::string directory = ADsDescribeFailure(kCatalogPath);
  // The session is the web client's cookie, a secret: no event names it.
  LogError(static_cast<DWORD>(hr), EVENTLOG_ERROR_TYPE,
           "Pellora could not access AD to get property %s for User %s, HR:0x%x; %s", propertyName.c_str(),
           shortName.c_str(), static_cast<unsigned>(hr), directory.c_str());
}

void CPLGeneralSettings::StoreInCache(const char* cacheName, const std::string& key, const std::string& value,
                                      const std::string& session, const std::string& propertyName,
                                      const std::string& shortName) {
  if (m_cache.AddItem(cacheName, key.c_str(), value.c_str(), session.c_str(), propertyName.c_str())) return;
  // The session is the web client's cookie, a secret: no event names it.
  WriteEventLog(EVENTLOG_ERROR_TYPE, "Pellora failed to store in cache AD property %s for User %s Value %s",
                propertyName.c_str(), shortName.c_str(), value.c_str());
}

HRESULT CPLGeneralSettings::LookUp(const std::string& fullName, const std::string& shortName, const std::string& sid,
                                   const std::string& propertyName, bool configRead, int32_t configType,
                                   std::string& found, ADLookUpOutcome& outcome) {
  CCountedPtr<CADUserConfig> lookup(new CADUserConfig());
  if (configRead) lookup->m_nConfigType = configType;
  const bool address = fullName.find('@') != std::string::npos;
  const bool byShortName = !address && sid.empty();
  if (address) {
    lookup->BuildFilter(fullName, kUserIdSmtpAddress);
  } else if (!sid.empty()) {
    lookup->BuildFilter(sid, kUserIdSidOrMasterSid);
  } else {
    lookup->BuildFilter(shortName, kUserIdAccountName);
  }
  // A failed look-up is not repeated: it had its whole time limit, and a
  // connection the server closed has been opened again within it.
  HRESULT hr = lookup->GetUserProperties(propertyName, found);
  const int32_t users = lookup->m_nUsersFound;
  if (SUCCEEDED(hr) && found.size() > kADValueMaxBytes) {
    DebugLog("[CPLGeneralSettings::GetADProperty] The value of %s for %s is %zu bytes, more than %zu: not used",
             propertyName.c_str(), fullName.c_str(), found.size(), kADValueMaxBytes);
    std::string().swap(found);
    outcome = ADLookUpOutcome::NoValue;
    return kADNoValue;
  }
  if (byShortName && users > 1) {
    // Accounts of one short name in several domains: whose value it is
    // cannot be told, and joined values would name a language of neither.
    DebugLog("[CPLGeneralSettings::GetADProperty] User name %s is ambiguous: %d users found, no value taken",
             fullName.c_str(), static_cast<int>(users));
    found.clear();
    outcome = ADLookUpOutcome::NoValue;
    return kADNoValue;
  }
  const bool answered = hr == kADNoValue && users >= 0;
  outcome = SUCCEEDED(hr)           ? ADLookUpOutcome::Value
            : answered && users > 0 ? ADLookUpOutcome::NoValue
            : answered              ? ADLookUpOutcome::NoUser
                                    : ADLookUpOutcome::Failed;
  return hr;
}

BOOL CPLGeneralSettings::LoadSettings(const char* moduleName, const char* resourceLibraryName, std::string& errorText,
                                      int32_t directoryLevels) {
  BOOL result = Base::LoadSettings(moduleName, resourceLibraryName, errorText, directoryLevels);
  m_strTempDirectory.clear();
  bool read = GetSettingFromID(SettingTempDirectory, m_strTempDirectory, -1, 0);
  if (!read) {
    DebugLog("GetSettingFromID string failed ID %d, SettingID %d, EngineID %d",
             static_cast<int>(SettingTempDirectory), -1, 0);
  }
  const bool named = read && !m_strTempDirectory.empty();
  if (!named) {
    // Without the module's directory (start-up has failed already) the
    // default would be made in the host process's working directory.
    if (m_strModuleDirectory.empty()) return result;
    m_strTempDirectory = m_strModuleDirectory + "Temp";
    DebugLog("%s %s", " No Temp Directory found associate a default one", m_strTempDirectory.c_str());
  }
  // A path typed without a leading "/" is made in the host's working
  // folder, which nobody chose: said, with where (the default follows the
  // module's own folder, as the host named it).
  if (const std::string where = named ? FromWorkingFolder(m_strTempDirectory) : std::string(); !where.empty()) {
    WriteEventLog(EVENTLOG_WARNING_TYPE,
                  "The temporary directory %s (setting 17) is not a full path: it is taken from the server's working "
                  "folder, as %s; name a full path, starting with /.",
                  m_strTempDirectory.c_str(), where.c_str());
  }
  // A folder of another user, or one reached through a link they could
  // put, lets them read or plant what is put there (one open to every user
  // is reported below).
  int unsafe = 0;
  const std::string notOurs = IsOpenToOthers(m_strTempDirectory.c_str())
                                  ? std::string()
                                  : WhyFolderIsUnsafe(m_strTempDirectory, nullptr, &unsafe);
  const auto warnNotOurs = [this](const std::string& why) {
    WriteEventLog(EVENTLOG_WARNING_TYPE,
                  "The temporary directory %s (setting 17) is not the server's own: %s; the module runs without "
                  "it, nothing is made or put there; name a folder of the server's own.",
                  m_strTempDirectory.c_str(), why.c_str());
  };
  // Nothing is made or put through a folder refused: a link another user
  // put on the way would take it where they choose.
  if (!notOurs.empty() && unsafe == EACCES) {
    warnNotOurs(notOurs);
    return result;
  }
  if (!notOurs.empty()) {
    // Not another user's doing, but no folder can be made or used there (a
    // loop of links): the module does not start, as when it cannot be made.
    DebugLog("%s %s", " Can not create Temp Directory", m_strTempDirectory.c_str());
    errorText = "Can not create Temp Directory " + m_strTempDirectory + ": " + notOurs +
                "; make it, owned by the server's user and closed to others, or name another in setting 17";
    return 0;
  }
  if (FileExists(m_strTempDirectory.c_str()) && !IsDirectory(m_strTempDirectory.c_str())) {
    // Nothing can be put in it, and a folder of that name cannot be made:
    // the module does not start, as when the folder cannot be made.
    DebugLog("%s %s", " Can not create Temp Directory", m_strTempDirectory.c_str());
    errorText = "Can not create Temp Directory " + m_strTempDirectory +
                ": a file that is not a folder has this name; remove it, or name another folder in setting 17";
    return 0;
  }
  if (FileExists(m_strTempDirectory.c_str())) {
    // Made by an older version (0777 under umask 000), or named by setting
    // 17: the module does not change the modes of a folder it may share,
    // but the administrator must learn that others can reach it.
    if (IsOpenToOthers(m_strTempDirectory.c_str())) {
      WriteEventLog(EVENTLOG_WARNING_TYPE,
                    "The temporary directory %s (setting 17) is open to every user of the machine; close it to "
                    "others (chmod o-rwx), or name a folder of the server's own.",
                    m_strTempDirectory.c_str());
    }
    return result;
  }
  // Made level by level under the rule the log folder is made by, so that
  // nothing another user puts on the way in between is made through.
  std::string refused;
  std::string failure;
  const int err = MakeFolderForOwnerAndGroup(m_strTempDirectory, &refused, &failure);
  if (err == 0) return result;
  if (!refused.empty()) {
    warnNotOurs(refused);
    return result;
  }
  const HRESULT hr = HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
  DebugLogError(static_cast<DWORD>(hr), "%s %s", " Can not create Temp Directory", m_strTempDirectory.c_str());
  // The start-up failure event carries this text: it says why, and what to
  // change, since the module does not start without the folder.
  errorText = "Can not create Temp Directory " + m_strTempDirectory + ": " +
              (failure.empty() ? ReasonInWords(static_cast<DWORD>(hr)) : failure) +
              "; make it, owned by the server's user and closed to others, or name another in setting 17";
  return 0;
}

bool CPLGeneralSettings::GetComputerName() { return ReadComputerNames(m_strHostName, m_strFullyQualifiedName); }

bool CPLGeneralSettings::InitLogging(const char* moduleName, int32_t settingsID) {
  SetLogMode(LOG_MODE_OFF);
  int32_t level = 0;
  GetSettingFromID(SettingLogLevel, level, settingsID, 0);
  if (level == 1 || level == 10) SetLogMode(LOG_MODE_WRITE);
  int32_t kind = 1;
  int32_t sizeKB = 1048576;
  GetSettingFromID(SettingLogKind, kind, settingsID, 0);
  GetSettingFromID(SettingLogSizeKB, sizeKB, settingsID, 0);
  if (level == 10) {
    SetLogSink(&EventLogSink);
  } else {
    if (kind == 1 || kind == 2) SetLogSink(kind == 2 ? &RingFileLogSink : &SharedMemoryLogSink);
    // Kilobytes to bytes in 64 bits, clamped to what the ring can address:
    // a huge setting must not wrap into a tiny or negative size. It bounds
    // the append-only file too.
    if (sizeKB > 0) SetLogRingSize(LogSizeFromKB(sizeKB));
  }
  InitLogFiles(moduleName, settingsID, kind);
  return true;
}

bool CPLGeneralSettings::InitLogFiles(const char* moduleName, int32_t settingsID, int32_t logKind) {
  const DWORD savedMode = GetLogMode();
  SetLogMode(LOG_MODE_OFF);
  const std::string module = moduleName != nullptr ? moduleName : "";

  HMODULE logModule = LoadLibraryA((m_strCommonFilesDirectory + "bin/LogModule.dll").c_str());
  if (logModule == nullptr) logModule = LoadLibraryA("LogModule.dll");
  if (logModule != nullptr) {
    // The lock the debug log holds belongs to the module being replaced.
    if (!m_spLogModule.IsNull()) SetLogSinkLock(nullptr);
    m_spLogModule = CModuleHandle(new CLoadedModule(logModule));
  }
  int32_t lockOption = 1;
  int32_t ownLog = 0;
  GetSettingFromID(SettingCommonLogOption76, lockOption, settingsID, 0);
  GetSettingFromID(SettingCommonLogOption75, ownLog, settingsID, 0);

  auto getProductCS = m_spLogModule.IsNull()
                          ? nullptr
                          : reinterpret_cast<GetProductCSFn>(GetProcAddress(m_spLogModule->m_hModule, "GetProductCS"));
  auto getGeneralCS = m_spLogModule.IsNull()
                          ? nullptr
                          : reinterpret_cast<GetGeneralCSFn>(GetProcAddress(m_spLogModule->m_hModule, "GetGeneralCS"));
  m_strLogLockName.clear();
  // Every process that writes a log takes the one lock of that log, however
  // its settings named it (setting 23 left out or spelled as its default,
  // 75 or 23 naming the same file): the lock is named after the log file,
  // which also names the ring. Two locks over one ring or file would let
  // their writers into it at once.
  auto askLockOf = [&](const std::string& logFileName) {
    CSync* lock = GetLogSinkLock();
    if (logFileName == kCommonLogFileName) {
      if (getGeneralCS == nullptr) return;
      m_strLogLockName = "General";
      getGeneralCS(&lock, lockOption);
    } else {
      if (getProductCS == nullptr) return;
      m_strLogLockName = "Product." + logFileName;
      getProductCS(logFileName.c_str(), &lock, lockOption);
    }
    SetLogSinkLock(lock);
  };

  std::string fileName;
  ci_string configured;
  if (ownLog != 0) {
    SetLogRingOwner(true);
    fileName = LogFileNameOfModule(module);
    askLockOf(fileName);
  } else if (GetSettingFromID(SettingCommonLogFileName, configured, settingsID, 0) && !configured.empty()) {
    SetLogRecordTag("[" + module + "] ");
    if (configured.size() > MAX_PATH) configured = configured.substr(configured.size() - 130);
    SanitizeFileName(configured);
    if (!IsAllowedFileName(configured, m_reservedNames)) configured = "QL_" + configured;
    fileName = ToStd(configured);
    if (logKind == 1 || logKind == 2) askLockOf(fileName);
  } else {
    fileName = kCommonLogFileName;
    SetLogRecordTag("[" + module + "] ");
    askLockOf(fileName);
  }

  std::string path = ::GetLogFilePath();
  ci_string folder;
  if (GetSettingFromID(SettingCommonLogFolder, folder, settingsID, 0) && !folder.empty()) {
    path = ToStd(folder) + "/" + kLogFolderName + "/" + fileName;
    const std::string where = FromWorkingFolder(ToStd(folder));
    if (!where.empty() && (savedMode & LOG_MODE_WRITE) != 0) {
      WriteEventLog(EVENTLOG_WARNING_TYPE,
                    "The debug log's folder %s (setting 39) is not a full path: it is taken from the server's "
                    "working folder, as %s; name a full path, starting with /.",
                    ToStd(folder).c_str(), where.c_str());
    }
  } else {
    char systemDirectory[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(systemDirectory, sizeof systemDirectory);
    if (n > 0 && n < sizeof systemDirectory) {
      path = std::string(systemDirectory) + "/" + "LogFiles/" + kLogFolderName + "/" + fileName;
    }
  }
  if (path.size() >= MAX_PATH) path = kDefaultLogFilePath;
  SetLogFilePath(path.c_str());
  m_strLogFilePath = ::GetLogFilePath();
  if ((savedMode & LOG_MODE_WRITE) != 0) MakeLogFolder(m_strLogFilePath);
  m_logAtStart = ReadLogSettings(m_settings, settingsID);
  ReportLogSetUp(m_logAtStart);
  SetLogMode(savedMode);
  return true;
}

void CPLGeneralSettings::MakeLogFolder(const std::string& logFilePath) {
  const size_t slash = logFilePath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return;
  const std::string folder = logFilePath.substr(0, slash);
  if (IsDirectory(folder.c_str())) return;
  // On a fresh install nothing would be logged until the folder was made by
  // hand; the log says who did what, so only owner and group may read it.
  // Nothing is made below a folder another user controls (start-up reports
  // it, ReportLogSetUp).
  std::string refused;
  std::string failure;
  const int err = MakeFolderForOwnerAndGroup(folder, &refused, &failure);
  if (err != 0 && refused.empty()) {
    const HRESULT hr = HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
    // The ring keeps its records in memory; every other kind has nowhere
    // to put them.
    const bool ring = GetLogSink() == &SharedMemoryLogSink;
    WriteEventLog(2,
                  "Can not create the debug log folder %s: %s; the debug log writes no file until the folder exists "
                  "(made by hand, or at the next start-up)%s.",
                  folder.c_str(), failure.empty() ? ReasonInWords(static_cast<DWORD>(hr)).c_str() : failure.c_str(),
                  ring ? "; the shared-memory ring (setting 12 = 1) still holds its records" : "");
  }
}

BOOL CPLGeneralSettings::GetUTF8ResourceString(DWORD id, std::string& text, LANGID langId) {
  return GetUTF8ResourceStringOf(m_resource, id, text, langId);
}
