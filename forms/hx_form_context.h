// What a page form is given for one HTML response: the host's request record,
// the instruction list its edits go into, the record of pointers into the
// response buffer, the DOM over that buffer, and the page's template name and
// client experience read from the template comment the mail server writes
// into every page ("<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->").
#pragma once

#include "common/ci_string.h"
#include "common/page_chars.h"
#include "forms/page_dom.h"
#include "general/page_char_set_choice.h"
#include "platform/win_types.h"

struct CDLLContext;
class CBufferInstructionList;
class CCommonPointers;

// The mail client's page family, as the template name says.
namespace OwaExperience {
constexpr DWORD None = 0;  // error page, logoff page or a page without template
constexpr DWORD Premium = 1;
constexpr DWORD Basic = 2;
}  // namespace OwaExperience

class CHXFormContext {
 public:
  // Throws CHXFormException when the record, its outbound context or the
  // host's pointer record is missing, and std::runtime_error ("invalid
  // template") for a template name of no known family. The list may be null;
  // the factory refuses such a context.
  CHXFormContext(CDLLContext* pContext, CBufferInstructionList* pList);
  CHXFormContext(const CHXFormContext&) = delete;
  CHXFormContext& operator=(const CHXFormContext&) = delete;
  virtual ~CHXFormContext();

  // Older spellings kept for the pipeline's callers.
  CDLLContext* GetDLLContext() const { return m_pContext; }
  CBufferInstructionList* GetBufferInstructions() const { return m_pcobBufferInstructionList; }

  // True when the DOM exists and wraps a page source; a DOM not built yet
  // counts, as the record's positions were found sound.
  bool HasDom() const;
  // The template name, or "NULL" for log lines of a page without one.
  const char* TemplateNameForLog() const { return m_csTemplateName.empty() ? "NULL" : m_csTemplateName.c_str(); }

  // Borrowed from the host; read directly by the forms.
  CDLLContext* m_pContext = nullptr;
  CBufferInstructionList* m_pcobBufferInstructionList = nullptr;
  CCommonPointers* m_pCommonPointers = nullptr;
  // Owned; the page's DOM, built when a form first reads it (or at once while
  // the debug log is on), empty when it could not be allocated.
  CPageDom m_spDom;
  // Trimmed; empty when the page has no template comment.
  ci_string m_csTemplateName;
  DWORD m_dwOWAExperience = OwaExperience::None;
  // The page's character set as the product form decided it (as a browser
  // does), and the walk of its characters in that set; every value written
  // into the page is escaped on this walk.
  PageCharSetChoice m_charSet;
  // Set where the caller decided m_charSet over these same words before the
  // form was built: the form takes it rather than read the page again.
  bool m_bCharSetChosen = false;
  CPageChars m_pageChars = CPageChars::Utf8();
  // Set where the form runs over a page decoded from a stateful set: the
  // set that values percent-decoded from URLs are in (the browser encodes a
  // URL's query in the page's own set).
  std::string m_sUrlValueSet;

 protected:
  virtual void Initialize(CDLLContext* pContext, CBufferInstructionList* pList);
  // Out = the trimmed text between the first marker and the next "-->",
  // searched without case in the page's HTML data in place; unchanged when
  // either is missing. Never throws.
  virtual void ReadTemplateComment(const char* pMarker, ci_string& out);
  virtual void UpdateContextWithTemplateComment();
};
