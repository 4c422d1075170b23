// The root of every page form: adds the product's scripts and style sheets to
// a page, and points the page's own script links at the mail client's cached
// copies of its scripts. Every edit goes through the DOM into the context's
// instruction list. Codes: 0 done, 11 nothing found or nothing to insert, 13
// invalid argument, else the code of the failed insertion. DOM exceptions
// (a page without HEAD, say) are left to the form's Process.
#pragma once

#include <string>

#include "platform/win_types.h"

class CHXFormContext;
class CHXFormScriptPath;
class CCachedScriptDecorator;

namespace ScriptLinkKind {
constexpr DWORD Script = 0;
constexpr DWORD StyleSheet = 1;
}  // namespace ScriptLinkKind

// No code means "nothing found" to the forms but this one.
constexpr DWORD HX_RC_NOT_FOUND = 11;

class CHXForm {
 public:
  virtual ~CHXForm() = default;

  virtual DWORD GetFormFamilyID() = 0;

  // Inserts the manager's prefix right before the file name in the "src" of
  // the first SCRIPT tag below HEAD (bInHead) or HTML that names the file
  // (without case). 11 when no tag names it.
  virtual DWORD PrefixLinkedScripts(CHXFormContext* pFormContext, const std::string& csFileName,
                                    CCachedScriptDecorator* pScriptManager, bool bInHead);
  // The same with the request's own prefix; 13 when the request has none.
  virtual DWORD PrefixLinkedScripts(CHXFormContext* pFormContext, const std::string& csFileName, bool bInHead);
  // Appends a link to the product file (through the request's prefix when
  // bUseScriptManager) at the end of the HEAD content.
  virtual DWORD InsertScriptLink(CHXFormContext* pFormContext, const std::string& csFileName, DWORD dwKind,
                                 CHXFormScriptPath* pScriptPath, bool bUseScriptManager);
  // Appends a SCRIPT (kind 0) or style-sheet LINK (kind 1) element with that
  // path at the end of the HEAD content; another kind appends nothing.
  virtual DWORD InsertScriptLink(CHXFormContext* pFormContext, const std::string& csScriptPath, DWORD dwKind);
  // The request's cached-script prefix ("HEADER_QL_CSMPREFIX"), or null; the
  // caller deletes it.
  virtual CCachedScriptDecorator* GetCachedScriptManager(CHXFormContext* pFormContext);
};
