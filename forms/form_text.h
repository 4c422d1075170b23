// Texts every form repeats: flags in log lines, the product script block
// around the variables a form writes into a page, and the closing banner of
// Process.
#pragma once

#include <string>

#include "common/log_words.h"
#include "common/page_chars.h"
#include "platform/win_types.h"

class CHXFormContext;

// "<script language='javascript'>\r\n//QUENLITH PELLORA\r\n" + lines +
// "\r\n//QUENLITH PELLORA\r\n</script>". Each line of `lines` ends with "\r\n".
std::string ProductScriptBlock(const std::string& lines);
// Lines of that block: prefix + value + "\";\r\n" (the prefix ends with the
// opening double quote), and prefix + "1" or "0" + ";\r\n". The value comes
// from a request, a setting or the page: it is escaped, in the page's
// characters, so that it stays one string and cannot end the script block.
void AppendStringLine(std::string& sLines, const char* pPrefix, const std::string& sValue, const CPageChars& page);
void AppendFlagLine(std::string& sLines, const char* pPrefix, bool bValue);

// The closing banner of a form's Process, each line opened by pPrefix
// (e.g. "[CPLBasicFormItem::Process] "): 76 asterisks, pMiddle, 75 asterisks.
void LogProcessBanner(const char* pPrefix, const std::string& middle);
// "*** Modifying <template> form SUCCEEDED! ***" ("NULL" without a context or
// template, "FAILED" for a non-zero result).
std::string ModifyingBannerText(const CHXFormContext* pFormContext, DWORD dwRet);
// The usual closing: the banner with ModifyingBannerText, then
// "<prefix>method returned: <dwRet>".
void LogProcessFinished(const char* pPrefix, const CHXFormContext* pFormContext, DWORD dwRet);
