// Page checks, texts and script lines that several Premium forms write the
// same way: the HTML, BODY and HEAD check of the constructors, the menu texts
// and items, and the lines of the product script block that name the
// product's pages, the request's cookie and the mail server's URL.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "forms/page_parts.h"
#include "platform/win_types.h"

class CHXForm;
class CHXFormContext;
class CPLHXGeneralSettings;


// The localised texts of the ids for this page: HTML-escaped UTF-8 on
// Premium pages, the page's character set otherwise.
bool LoadPageTexts(CPLHXGeneralSettings* pSettings, const CHXFormContext* pFormContext, LANGID wLangID,
                   const std::string& sCharSet, const std::vector<int32_t>& ids, std::map<int32_t, std::string>& texts);
// The text of the id, or the fallback when the map lacks it.
std::string TextOr(const std::map<int32_t, std::string>& texts, int32_t id, const char* pFallback);

// One entry of a context menu: <div _lnk=1 class="cmLnk" id=ID cmd="CMD">,
// the icon span when asked for, the text in span spnT, </div>.
std::string ContextMenuItemHTML(const char* pId, const char* pCommand, const std::string& sText, bool bIconSpan);

// The save page ("ql_SaveConf.htm" with save confirmation, else
// "ql_SaveX.htm"), close and cancel pages through the request's cached-script
// prefix, then the request's forms-based-authentication cookie escaped for
// its single-quoted script string. False, nothing appended, when the request
// carries no cached-script prefix.
bool AppendProductPageLines(CHXForm& form, CHXFormContext* pFormContext, bool bSaveConfirmation, std::string& sLines);
// The product's virtual folder, the mail server's root URL and base path,
// and the user's language.
void AppendRequestContextLines(const CHXFormContext* pFormContext, const std::string& sUserLanguage,
                               std::string& sLines);

// The closing lines of a Process whose banner names the form its own way:
// "*** Modifying " + sFormText + " form SUCCEEDED! ***" (or FAILED) framed
// by asterisks, then "method returned".
void LogPremiumProcessFinished(const char* pPrefix, const std::string& sFormText, DWORD dwRet);
// "<template>" of the context, or "<NULL>" without one.
std::string TemplateForBanner(const CHXFormContext* pFormContext);
