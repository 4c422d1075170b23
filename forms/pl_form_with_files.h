// The base of every form whose page lists attachments or document files. Its
// constructor reads the product's file rules for the request's settings set
// (blocked extensions, Open/Save/Rich restrictions, direct access from this
// client, safe open over SSL, WebReady, save confirmation) and three
// localised texts; it then answers, per file, which context-menu items are
// visible and enabled.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "forms/pl_form.h"
#include "platform/win_types.h"

// OWA's attachment levels as the mail client writes them into pages.
namespace OwaAttachmentLevel {
constexpr DWORD Blocked = 1;
constexpr DWORD ForceSave = 2;
constexpr DWORD Allowed = 3;
}  // namespace OwaAttachmentLevel

// The four context-menu items of a file, in the order the pages expect.
struct PLContextMenuFlags {
  bool bOpenVisible = false;
  bool bOpenEnabled = false;
  bool bSaveVisible = false;
  bool bSaveEnabled = false;
  bool bTextVisible = false;
  bool bTextEnabled = false;
  bool bRichVisible = false;
  bool bRichEnabled = false;
};

class CPLFormWithFiles : public virtual CPLForm {
 public:
  // CPLForm is a virtual base: the most derived class names
  // CPLForm(pFormContext) in its own initializer list. The flag is kept for
  // the callers that pass it (the factory passes 1).
  explicit CPLFormWithFiles(CHXFormContext* pFormContext, int bBuildVirtualBases = 1);
  ~CPLFormWithFiles() override;

  // The extension of a file's name, or of a document's path, as
  // ExtensionsOfFileName reads it (empty without one); blocked when the
  // product's list holds any of its readings (without case). Always 0.
  DWORD GetFileExtensionAndBlockedFlag(const std::string& sFileName, ci_string& csExtension, bool& bBlocked);
  // The menu flags of a file of that extension at that OWA level. 13 for a
  // level or a high-speed action outside the rules (the flags stay as
  // computed so far).
  DWORD GetPLContextMenuFlags(const ci_string& csExtension, DWORD dwOWAAttachmentLevel, bool bBlockedByPL,
                              PLContextMenuFlags& flags);
  // The OWA build and theme from the href of the first HEAD style-sheet link
  // whose last path piece is one of the two names.
  bool GetOWABuildAndCurrentOWAThemeFromCSSLinkTags(const ci_string& csName1, const ci_string& csName2,
                                                    ci_string& csBuild, ci_string& csTheme);

 protected:
  DWORD InitPLBlockedExtensionsSet();
  DWORD InitPLRestrictionSettings();
  DWORD InitPLSafeSSLOpenSetting();
  // A setting of the request's settings set (engine 0); a failed read keeps
  // the default and is logged by the settings object.
  bool ReadSetting(int32_t nSettingID, int32_t& nValue);
  DWORD SettingsID() const;
  // OWA's own rule for direct file access from this class of client.
  virtual bool IsDirectFileAccessEnabledByOWA(bool bPublicClient) const;

  int32_t m_nDefaultVisualisation = 2;
  ci_string m_csBlockedExtensions;
  bool m_bOpenRestricted = false;
  bool m_bSaveRestricted = false;
  bool m_bRichRestricted = false;
  bool m_bSafeSSLOpen = false;
  bool m_bWebReadyEnabled = false;
  bool m_bSaveConfirmation = false;
  std::string m_sViewAttachmentText = "View Attachment";
  std::string m_sBlockedExtensionText =
      "An Outlook Web Access security policy prevents attachments with this file extension.";
  std::string m_sEmbeddedMessageText =
      "This attachment type (embedded message) cannot be accessed in the New Message form.";

 private:
  void ReadFileRules();
  void LoadTexts();
};
