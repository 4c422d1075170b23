// The file rules of the request's settings set and the context-menu flags of
// one file.
#include "forms/pl_form_with_files.h"

#include <vector>

#include "common/blocked_extensions.h"
#include "common/debug_log.h"
#include "common/file_name_extensions.h"
#include "common/string_operation.h"
#include "filter/block_levels.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/ssl_connection.h"
#include "forms/form_text.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "general/owa_ad_config.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"
#include "settings/setting_ids.h"

namespace {

constexpr int32_t kViewAttachmentTextID = 601;
constexpr int32_t kBlockedExtensionTextID = 600;
constexpr int32_t kEmbeddedMessageTextID = 214;
constexpr DWORD kPremiumResourceMode = 1;
constexpr DWORD kBasicResourceMode = 2;

// What the settings say for the Text and Rich items of an extension.
namespace HighSpeedAction {
constexpr int32_t TextOnly = 1;
constexpr int32_t TextAndRich = 2;
constexpr int32_t Neither = 3;
}  // namespace HighSpeedAction

}  // namespace

CPLFormWithFiles::CPLFormWithFiles(CHXFormContext* pFormContext, int bBuildVirtualBases) : CPLForm(pFormContext) {
  if (!m_bIsInstanceValid) return;
  DebugLog("[CPLFormWithFiles::CPLFormWithFiles] Starts");
  ReadFileRules();
  if (m_bIsInstanceValid) LoadTexts();
  DebugLog("[CPLFormWithFiles::CPLFormWithFiles] returned m_bIsInstanceValid <%s>.", YN(m_bIsInstanceValid));
}

CPLFormWithFiles::~CPLFormWithFiles() = default;

DWORD CPLFormWithFiles::SettingsID() const { return m_pFormContext->m_pContext->m_dwSettingsID; }

bool CPLFormWithFiles::IsDirectFileAccessEnabledByOWA(bool bPublicClient) const {
  const COWAADConfig& owa = m_pSettings->GetOWAADConfig();
  const int nControl =
      bPublicClient ? owa.m_nFileAccessControlOnPublicComputers : owa.m_nFileAccessControlOnPrivateComputers;
  return (nControl & 1) != 0;
}

bool CPLFormWithFiles::ReadSetting(int32_t nSettingID, int32_t& nValue) {
  return m_pSettings->GetSettingFromID(nSettingID, nValue, static_cast<int32_t>(SettingsID()), 0);
}

void CPLFormWithFiles::ReadFileRules() {
  if (!ReadSetting(SettingDefaultVisualisation, m_nDefaultVisualisation)) {
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] Failed to read default visualisation setting. ID <%d>.",
             static_cast<int>(SettingsID()));
  }
  int32_t webReady = 0;
  if (!ReadSetting(SettingEnableWebReady, webReady)) {
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] Failed to read Enable OWA's WebReady setting. ID <%d>.",
             static_cast<int>(SettingsID()));
  }
  m_bWebReadyEnabled = webReady != 0;

  if (InitPLBlockedExtensionsSet() != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] InitPLBlockedExtensionsSet() failed.");
  } else if (InitPLRestrictionSettings() != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] InitPLRestrictionSettings() failed.");
  } else if (InitPLSafeSSLOpenSetting() != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] InitPLSafeSSLOpenSetting() failed.");
  }

  int32_t saveConfirmation = 0;
  if (!ReadSetting(SettingSaveConfirmation, saveConfirmation)) {
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] Failed to read save confirmation setting. ID <%d>.",
             static_cast<int>(SettingsID()));
  }
  m_bSaveConfirmation = saveConfirmation != 0;
}

// The blocked-extension text is localised by its own resource; the English
// default stays when the library lacks it.
void CPLFormWithFiles::LoadTexts() {
  const std::vector<int32_t> ids = {kViewAttachmentTextID, kBlockedExtensionTextID, kEmbeddedMessageTextID};
  const DWORD mode =
      m_pFormContext->m_dwOWAExperience == OwaExperience::Premium ? kPremiumResourceMode : kBasicResourceMode;
  std::map<int32_t, std::string> texts;
  if (!m_pSettings->GetResources(ids, texts, mode, m_wLangID, m_sCharSet)) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLFormWithFiles::CPLFormWithFiles] CPLHXGeneralSettings::GetResources failed.");
    return;
  }
  if (auto it = texts.find(kViewAttachmentTextID); it != texts.end()) m_sViewAttachmentText = it->second;
  if (auto it = texts.find(kBlockedExtensionTextID); it != texts.end()) m_sBlockedExtensionText = it->second;
  if (auto it = texts.find(kEmbeddedMessageTextID); it != texts.end()) m_sEmbeddedMessageText = it->second;
}

DWORD CPLFormWithFiles::InitPLBlockedExtensionsSet() {
  m_csBlockedExtensions.clear();
  int32_t enabled = kDefaultEnableBlockedList;
  ReadSetting(SettingEnableBlockedList, enabled);
  if (enabled == 0) return 0;
  m_pSettings->GetSettingFromID(SettingBlockedExtensions, m_csBlockedExtensions, static_cast<int32_t>(SettingsID()), 0);
  DebugLog("[CPLFormWithFiles::InitPLBlockedExtensionsSet] Blocked extensions <%s>.", m_csBlockedExtensions.c_str());
  return 0;
}

DWORD CPLFormWithFiles::InitPLRestrictionSettings() {
  const int32_t restrictionIDs[] = {SettingOpenRestriction, SettingSaveRestriction, SettingRichRestriction};
  bool* const restricted[] = {&m_bOpenRestricted, &m_bSaveRestricted, &m_bRichRestricted};
  for (size_t i = 0; i < 3; ++i) {
    int32_t value = 1;
    if (!ReadSetting(restrictionIDs[i], value)) {
      DebugLog(
          "[CPLFormWithFiles::InitPLRestrictionSettings] CHXGenerSettings::GetSettingFromID() failed. ID <%d> "
          "SettingID <%d>.",
          static_cast<int>(SettingsID()), static_cast<int>(restrictionIDs[i]));
    }
    *restricted[i] = value == 0;
  }
  DWORD dwRet = 0;
  if (!(m_bOpenRestricted && m_bSaveRestricted)) {
    // The page offers only what the download's own decision will allow.
    const int32_t blockLevel =
        BlockLevels::ReadDirectFileAccessLevel(*m_pSettings, static_cast<int32_t>(SettingsID()));
    DebugLog("[CPLFormWithFiles::InitPLRestrictionSettings] Direct file access block level is <%d>.", blockLevel);
    if (blockLevel == BlockLevels::kInvalid) m_bOpenRestricted = m_bSaveRestricted = true;
    if (blockLevel == 0) {
      bool inRange = false;
      dwRet = CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(m_pFormContext->m_pContext, inRange);
      if (dwRet != 0) {
        DebugLog(
            "[CPLFormWithFiles::InitPLRestrictionSettings] "
            "CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange() failed.");
        return dwRet;
      }
      if (!inRange) m_bOpenRestricted = m_bSaveRestricted = true;
    }
  }
  DebugLog(
      "[CPLFormWithFiles::InitPLRestrictionSettings] returned dwRet <%d> OpenRestricted <%s> SaveRestricted <%s> "
      "RichRestricted <%s>.",
      static_cast<int>(dwRet), YN(m_bOpenRestricted), YN(m_bSaveRestricted), YN(m_bRichRestricted));
  return dwRet;
}

DWORD CPLFormWithFiles::InitPLSafeSSLOpenSetting() {
  m_bSafeSSLOpen = false;
  DebugLog("[CPLFormWithFiles::InitPLSafeSSLOpenSetting] Starts");
  if (IsSSLConnection(*m_pFormContext->m_pContext->m_spRequestInfo)) {
    int32_t safeOpen = kDefaultSafeSSLOpen;
    if (!ReadSetting(SettingSafeSSLOpen, safeOpen)) {
      DebugLog(
          "[CPLFormWithFiles::InitPLSafeSSLOpenSetting] CPLHXGeneralSettings::GetSettingFromID() failed. ID <%d> "
          "Setting ID <%d>.",
          static_cast<int>(SettingsID()), static_cast<int>(SettingSafeSSLOpen));
    }
    m_bSafeSSLOpen = safeOpen != 0;
  }
  DebugLog("[CPLFormWithFiles::InitPLSafeSSLOpenSetting] returned dwRet <%d> m_bSafeSSLOpen <%s>.", 0,
           YN(m_bSafeSSLOpen));
  return 0;
}

DWORD CPLFormWithFiles::GetFileExtensionAndBlockedFlag(const std::string& sFileName, ci_string& csExtension,
                                                       bool& bBlocked) {
  csExtension.clear();
  bBlocked = false;
  // The rule reads the name the browser shows and the download carries.
  const std::string sShown = DecodeHtmlCharacterReferences(sFileName);
  const CFileNameExtensions extensions = ExtensionsOfFileName(AsCIView(sShown));
  csExtension = extensions.whole;
  // The download checks ask the same test of the same list, of every
  // reading of the name.
  bBlocked = AreExtensionsInBlockedList(extensions, m_csBlockedExtensions);
  DebugLog(
      "[CPLFormWithFiles::GetFileExtensionAndBlockedFlag] returned dwRet <%d>. Attachment extension <%s> "
      "Attachment blocked by PL <%s>.",
      0, csExtension.c_str(), YN(bBlocked));
  return 0;
}

DWORD CPLFormWithFiles::GetPLContextMenuFlags(const ci_string& csExtension, DWORD dwOWAAttachmentLevel,
                                              bool bBlockedByPL, PLContextMenuFlags& f) {
  const char* pExt = csExtension.c_str();
  const int level = static_cast<int>(dwOWAAttachmentLevel);
  DebugLog(
      "[CPLFormWithFiles::GetPLContextMenuFlags] Starts. Attachment extension <%s> OWA Attachment Level <%d> "
      "Extension blocked by PL <%s>",
      pExt, level, YN(bBlockedByPL));
  f = PLContextMenuFlags();
  const bool blocked = dwOWAAttachmentLevel == OwaAttachmentLevel::Blocked;
  const bool forceSave = dwOWAAttachmentLevel == OwaAttachmentLevel::ForceSave;
  const bool allowed = dwOWAAttachmentLevel == OwaAttachmentLevel::Allowed;
  if (!bBlockedByPL && !blocked && !forceSave && !allowed) {
    DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] For <%s> extension OWA attachment level is invalid <%d>.", pExt,
             level);
    return HX_RC_INVALID_DATA;
  }
  f.bOpenVisible = f.bSaveVisible = f.bTextVisible = f.bRichVisible = true;
  if (bBlockedByPL) {
    DebugLog(
        "[CPLFormWithFiles::GetPLContextMenuFlags] <%s> extension is blocked by PL. Set Open/Save/Rich/Text items "
        "to disabled.",
        pExt);
  } else if (blocked) {
    f.bTextEnabled = f.bRichEnabled = true;
    DebugLog(
        "[CPLFormWithFiles::GetPLContextMenuFlags] For <%s> extension OWA attachment level is set to 'BLOCKED' "
        "(%d). Set Open/Save items to disabled, Rich/Text items to enabled.",
        pExt, level);
  } else {
    f.bOpenEnabled = f.bSaveEnabled = f.bTextEnabled = f.bRichEnabled = true;
    if (forceSave) {
      DebugLog(
          "[CPLFormWithFiles::GetPLContextMenuFlags] For <%s> extension OWA attachment level is set to "
          "'FORCESAVE' (%d). Set Open/Save/Rich/Text items to enabled.",
          pExt, level);
    } else {
      DebugLog(
          "[CPLFormWithFiles::GetPLContextMenuFlags] For <%s> extension OWA attachment level is set to 'ALLOW' "
          "(%d). Set Open/Save/Rich/Text items to enabled.",
          pExt, level);
    }
  }

  const bool publicClient = (m_pFormContext->m_pContext->m_dwRequestFlags & RequestFlag::FBAPublicClient) != 0;
  const bool owaDirectAccess = IsDirectFileAccessEnabledByOWA(publicClient);
  DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] <%s> client detected. Direct file access is enabled by OWA <%s>.",
           publicClient ? "PUBLIC" : "PRIVATE", YN(owaDirectAccess));
  if (!owaDirectAccess) f.bOpenEnabled = f.bSaveEnabled = false;
  if (m_bOpenRestricted) {
    f.bOpenEnabled = false;
    DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] Open is restricted by PL. Set 'Open' item to disabled.");
  }
  if (m_bSaveRestricted) {
    f.bSaveEnabled = false;
    DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] Save is restricted by PL. Set 'Save' item to disabled.");
  }
  if (m_bRichRestricted) {
    f.bRichEnabled = false;
    DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] Rich is restricted by PL. Set 'Rich' item to disabled.");
  }

  DWORD dwRet = 0;
  int32_t action = HighSpeedAction::TextAndRich;
  m_pSettings->GetPerKeyValue(csExtension, action, static_cast<int32_t>(SettingsID()), 0);
  DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] Extension <%s>, Setting ID <%d> => High speed action <%d>", pExt,
           static_cast<int>(SettingsID()), action);
  if (action == HighSpeedAction::TextOnly) {
    f.bRichVisible = f.bRichEnabled = false;
    DebugLog(
        "[CPLFormWithFiles::GetPLContextMenuFlags] High speed action is set to 'SHOW TEXT ITEM, REMOVE RICH ITEM' "
        "(%d). Set 'Rich' item to invisible.",
        action);
  } else if (action == HighSpeedAction::TextAndRich) {
    DebugLog(
        "[CPLFormWithFiles::GetPLContextMenuFlags] High speed action is set to 'SHOW TEXT AND RICH ITEMS' (%d). No "
        "need to change PL menu flags.",
        action);
  } else if (action == HighSpeedAction::Neither) {
    f.bTextVisible = f.bTextEnabled = f.bRichVisible = f.bRichEnabled = false;
    DebugLog(
        "[CPLFormWithFiles::GetPLContextMenuFlags] High speed action is set to 'REMOVE TEXT AND RICH ITEMS' (%d). "
        "Set Text/Rich items to invisible.",
        action);
  } else {
    DebugLog("[CPLFormWithFiles::GetPLContextMenuFlags] High-Speed action value is invalid <%d>.", action);
    dwRet = HX_RC_INVALID_DATA;
  }
  DebugLog(
      "[CPLFormWithFiles::GetPLContextMenuFlags] returned dwRet <%d>. Open enabled <%s> visible <%s>, Save enabled "
      "<%s> visible <%s>, Text enabled <%s> visible <%s>, Rich enabled <%s> visible <%s>.",
      static_cast<int>(dwRet), YN(f.bOpenEnabled), YN(f.bOpenVisible), YN(f.bSaveEnabled), YN(f.bSaveVisible),
      YN(f.bTextEnabled), YN(f.bTextVisible), YN(f.bRichEnabled), YN(f.bRichVisible));
  return dwRet;
}

bool CPLFormWithFiles::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags(const ci_string& csName1, const ci_string& csName2,
                                                                    ci_string& csBuild, ci_string& csTheme) {
  csBuild.clear();
  csTheme.clear();
  DebugLog("[CPLFormWithFiles::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] Starts.");
  bool bRet = false;
  const CDOMElement& head = m_pFormContext->m_spDom->getHead();
  if (head.isUndefined()) {
    DebugLog("[CPLFormWithFiles::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] <HEAD> element was not found.");
  } else {
    const CDOMStartTagVector links = head.getStartTagsByTagName("link");
    for (size_t i = 0; i < links.length() && !bRet; ++i) {
      const CDOMStartTag link = links.item(i);
      const CDOMAttribute type = link.getAttribute("type");
      const CDOMAttribute href = link.getAttribute("href");
      if (type.isUndefined() || !type.hasValue() || href.isUndefined() || !href.hasValue()) continue;
      ci_string csType;
      type.getValue(csType);
      if (csType != "text/css") continue;
      std::vector<ci_string> pieces;
      CStringOperation::Parse(ToCI(DecodeHtmlCharacterReferences(href.getValue())), "/", pieces);
      if (pieces.size() < 4) continue;
      const ci_string& last = pieces.back();
      if (last != csName1 && last != csName2) continue;
      csBuild = pieces[pieces.size() - 4];
      csTheme = pieces[pieces.size() - 2];
      bRet = true;
    }
    if (!bRet) {
      DebugLog(
          "[CPLFormWithFiles::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] OWA build and/or current OWA theme was "
          "not found.");
    }
  }
  DebugLog(
      "[CPLFormWithFiles::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] returned bRet <%s> OWA build <%s> Current "
      "OWA theme <%s>.",
      TrueFalse(bRet), csBuild.c_str(), csTheme.c_str());
  return bRet;
}
