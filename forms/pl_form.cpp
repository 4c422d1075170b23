// The product form base: context checks, language and character set, and the
// localised script variables.
#include "forms/pl_form.h"

#include <map>

#include "common/char_set_labels.h"
#include "common/debug_log.h"
#include "filter/common_pointers.h"
#include "filter/decoded_page.h"
#include "filter/dll_context.h"
#include "filter/pl_hx_context.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "general/pl_hx_general_settings.h"

namespace {

// Escape modes of the resource texts: Premium pages take UTF-8 with HTML
// escaping, Basic pages the page's character set as it is.
constexpr DWORD kPremiumResourceMode = 1;
constexpr DWORD kBasicResourceMode = 2;
constexpr LANGID kPrimaryLanguageMask = 0x3FF;
constexpr LANGID kPrimaryLanguageEnglish = 9;

bool BeginsWithEn(const std::string& language) {
  return language.size() >= 2 && (language[0] == 'e' || language[0] == 'E') &&
         (language[1] == 'n' || language[1] == 'N');
}

}  // namespace

CPLForm::CPLForm(CHXFormContext* pFormContext) : m_pFormContext(pFormContext) {
  m_pSettings = CPLHXGeneralSettings::getInstance();
  DebugLog("[CPLForm::CPLForm] Starts.");
  if (!HasCompleteContext()) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLForm::CPLForm] Invalid pointers.");
  }
  if (m_bIsInstanceValid) DetectLanguage();
  if (m_bIsInstanceValid) DetectCharSet();
  DebugLog("[CPLForm::CPLForm] Language ID <%d> Char set <%s>.", static_cast<int>(m_wLangID), m_sCharSet.c_str());
  DebugLog("[CPLForm::CPLForm] returned. m_bIsInstanceValid <%s>.", YN(m_bIsInstanceValid));
}

CPLForm::~CPLForm() {
  m_sUserLanguage.clear();
  m_sCharSet.clear();
}

// A null HTML-begin word means the data begins at the first byte, so it is
// not required here.
bool CPLForm::HasCompleteContext() const {
  const CHXFormContext* ctx = m_pFormContext;
  if (ctx == nullptr || ctx->m_pContext == nullptr || ctx->m_pcobBufferInstructionList == nullptr ||
      ctx->m_pCommonPointers == nullptr) {
    return false;
  }
  const CCommonPointers& words = *ctx->m_pCommonPointers;
  const CDLLContext& record = *ctx->m_pContext;
  return words[CCommonPointers::FirstByte] != 0 && words[CCommonPointers::CharSetText] != 0 &&
         record.m_pCoreServices != nullptr && record.m_spExchangeURL && record.m_spOutboundContext &&
         record.m_spRequestInfo && record.m_pMyOwnContext != nullptr && ctx->HasDom();
}

void CPLForm::DetectLanguage() {
  m_sUserLanguage = m_pFormContext->m_pContext->m_pMyOwnContext->m_sUserLanguage;
  if (!m_pSettings->GetResource().DetectLanguage(m_sUserLanguage, m_wLangID)) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLForm::CPLForm] CResource::DetectLanguage failed!");
  }
  // An English table serves every language the library lacks; the pages
  // then say "en" as well.
  if ((m_wLangID & kPrimaryLanguageMask) == kPrimaryLanguageEnglish && !BeginsWithEn(m_sUserLanguage)) {
    m_sUserLanguage = "en";
  }
}

// The set is decided as the browser decides it. A form is never built over
// a page in a set whose characters a byte-wise reading does not see
// (ISO-2022-JP, HZ, UTF-16, the sets browsers show as nothing): every edit
// would be made in bytes the browser reads otherwise. The send-raw-data step
// hands such pages to the forms decoded where it reads the set as browsers do
// (filter/decoded_page.h); any other goes out unchanged.
void CPLForm::DetectCharSet() {
  PageCharSetChoice& choice = m_pFormContext->m_charSet;
  if (!m_pFormContext->m_bCharSetChosen) choice = ChooseResponseCharSet(*m_pFormContext->m_pCommonPointers);
  m_sCharSet = choice.set;
  DebugLog("[CPLForm::CPLForm] Char set <%s> named by the %s <%s>.", choice.set.c_str(),
           PageCharSetFromName(choice.from), choice.label.c_str());
  if (choice.bUnknown) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLForm::CPLForm] Nothing names the page's char set and its bytes are not plain ASCII: the "
             "browser guesses the set, which cannot be known here; the page is left unchanged.");
  } else if (choice.from == PageCharSetChoice::From::Nothing) {
    DebugLog("[CPLForm::CPLForm] Nothing names the page's char set: it is plain ASCII, read as UTF-8, and a "
             "rewritten page says so in its Content-Type.");
  }
  if (IsStatefulCharSet(choice.set)) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLForm::CPLForm] The page is in <%s>, whose characters a byte-wise reading does not see.",
             choice.set.c_str());
  }
  m_pFormContext->m_pageChars = CPageChars::ForCharSet(m_sCharSet);
  // Without the walk's reading of the set no value can be escaped for the
  // page: the page goes out unchanged.
  if (!m_pFormContext->m_pageChars.IsReadable()) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLForm::CPLForm] The character set <%s> cannot be read; the page is left unchanged.",
             m_sCharSet.c_str());
  }
}

std::string CPLForm::UrlValueInPage(const std::string& sBytes) const {
  if (m_pFormContext == nullptr || m_pFormContext->m_sUrlValueSet.empty()) return sBytes;
  return DecodedValue(m_pFormContext->m_sUrlValueSet, sBytes);
}

std::string CPLForm::PageUrlValueInPage(const std::string& sBytes) const {
  if (m_pFormContext == nullptr || m_pFormContext->m_sUrlValueSet.empty()) return sBytes;
  std::string out;
  for (size_t begin = 0; begin < sBytes.size();) {
    const bool bHigh = static_cast<unsigned char>(sBytes[begin]) >= 0x80;
    size_t end = begin;
    while (end < sBytes.size() && (static_cast<unsigned char>(sBytes[end]) >= 0x80) == bHigh) ++end;
    const std::string run = sBytes.substr(begin, end - begin);
    out += bHigh ? run : DecodedValue(m_pFormContext->m_sUrlValueSet, run);
    begin = end;
  }
  return out;
}

bool CPLForm::Append_InitJSResourceVariables(const std::vector<int32_t>& ids, std::string& out) {
  DebugLog("[CPLForm::Append_InitJSResourceVariables] started.");
  const DWORD mode = m_pFormContext != nullptr && m_pFormContext->m_dwOWAExperience == OwaExperience::Premium
                         ? kPremiumResourceMode
                         : kBasicResourceMode;
  std::map<int32_t, std::string> texts;
  if (!m_pSettings->GetResources(ids, texts, mode, m_wLangID, m_sCharSet)) {
    DebugLog("[CPLForm::Append_InitJSResourceVariables] CPLHXGeneralSettings::GetResources failed.");
    return false;
  }
  const std::map<int32_t, std::string>& prefixes = m_pSettings->GetScriptVariableMap();
  bool bRet = true;
  for (const int32_t id : ids) {
    const auto text = texts.find(id);
    if (text == texts.end()) {
      DebugLog("[CPLForm::Append_InitJSResourceVariables] ResourceID2String failed ID <%d>.", id);
      bRet = false;
      break;
    }
    const auto prefix = prefixes.find(id);
    if (prefix == prefixes.end()) {
      DebugLog("[CPLForm::Append_InitJSResourceVariables] ID2Value failed ID <%d>.", id);
      bRet = false;
      break;
    }
    out.append(prefix->second).append(text->second).append("\";\r\n");
  }
  DebugLog("[CPLForm::Append_InitJSResourceVariables] returned. bRet <%s>.", TrueFalse(bRet));
  return bRet;
}
