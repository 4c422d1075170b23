// The base of every product form: checks that the form context is complete,
// settles the user's language, its LANGID and the page character set, and
// writes localised script variables. A form that fails a check in any
// constructor clears m_bIsInstanceValid; the factory deletes such a form.
#pragma once

#include <string>
#include <vector>

#include "forms/hx_form.h"
#include "forms/hx_form_context.h"
#include "platform/win_types.h"

class CHXFormContext;
class CPLHXGeneralSettings;

class CPLForm : public CHXForm {
 public:
  // Never throws for a bad context; the form is then invalid.
  explicit CPLForm(CHXFormContext* pFormContext);
  ~CPLForm() override;

  // Every product form belongs to family 7.
  DWORD GetFormFamilyID() override { return 7; }

  // Records the page's edits in the context's instruction list (or writes a
  // whole replacement response). 0 on success; anything else leaves the page
  // unchanged.
  virtual DWORD Process() = 0;

  bool IsInstanceValid() const { return m_bIsInstanceValid; }

  // Appends one line "var g_sz... = \"<text>\";\r\n" per resource id, in list
  // order. False at the first id without a text or a line prefix (the lines
  // before it stay), or when the texts cannot be loaded.
  bool Append_InitJSResourceVariables(const std::vector<int32_t>& ids, std::string& out);

 protected:
  // The page's characters, which every value a form writes is escaped in.
  const CPageChars& PageChars() const { return m_pFormContext->m_pageChars; }
  // A value percent-decoded from the request's URL, as the page's
  // characters: on a page decoded from a stateful set, its bytes are of that
  // set and are decoded too (bytes that are no character become U+FFFD).
  // A value read from the page is already in the page's characters and never
  // goes through this. Hashes are taken of the bytes as sent, never of this.
  std::string UrlValueInPage(const std::string& sBytes) const;
  // A value read from the page and percent-decoded from a URL there: its
  // characters are the page's own, decoded once already, and only the bytes
  // its escapes stood for are of the page's set. The sets the page is
  // decoded from are seven-bit, so a byte above 0x7F is one of the page's
  // characters and stays; runs below 0x80 are read in the set.
  std::string PageUrlValueInPage(const std::string& sBytes) const;

  bool m_bIsInstanceValid = true;
  std::string m_sUserLanguage;
  LANGID m_wLangID = 0;
  std::string m_sCharSet = "utf-8";
  CHXFormContext* m_pFormContext = nullptr;
  // The process-wide settings object; only read.
  CPLHXGeneralSettings* m_pSettings = nullptr;

 private:
  bool HasCompleteContext() const;
  void DetectLanguage();
  void DetectCharSet();
};
