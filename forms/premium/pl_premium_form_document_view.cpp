#include "forms/premium/pl_premium_form_document_view.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "common/string_utils.h"
#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/get_attribute.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "forms/owa_file_access_level.h"
#include "forms/page_values.h"
#include "forms/premium/premium_markup.h"
#include "general/owa_file_access.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"

namespace {

const char* const kListPrefix = "[CPLPremiumFormDocumentView::ProcessFileList] ";
const char* const kRowPrefix = "[CPLPremiumFormDocumentView::ProcessFileRowElement] ";
const char* const kDocumentPrefix = "[CPLPremiumFormDocumentView::ProcessDocumentViewDocument] ";
const char* const kMenuPrefix = "[CPLPremiumFormDocumentView::AddPLContextMenuAttributesToFileLinkElement] ";

// The "t" flags of a file link.
constexpr int32_t kSharePointDocument = 17;
constexpr int32_t kUncDocument = 18;

bool HasNoViewLink(int32_t nFlags) { return nFlags == 5 || nFlags == 6 || nFlags == 33 || nFlags == 34; }

// One character of markup as the browser reads it: where it is spelt and
// the one ASCII character it reads as (a reference's or its own; 0 for any
// other character).
struct ReadCharacter {
  size_t begin;
  size_t end;
  char ascii;
};

std::vector<ReadCharacter> ReadCharacters(const std::string& sMarkup, const CPageChars& page) {
  std::vector<ReadCharacter> chars;
  chars.reserve(sMarkup.size());
  size_t skipTo = 0;
  std::string text;
  ForEachPageChar(sMarkup, page, [&](std::string_view piece, bool bAscii) {
    const size_t begin = static_cast<size_t>(piece.data() - sMarkup.data());
    if (begin < skipTo) return;
    char ascii = bAscii ? piece[0] : '\0';
    size_t length = bAscii && piece[0] == '&' ? ReadCharacterReference(sMarkup, begin, text) : 0;
    if (length != 0) ascii = text.size() == 1 ? text[0] : '\0';
    if (length == 0) length = piece.size();
    chars.push_back({begin, begin + length, ascii});
    skipTo = begin + length;
  });
  return chars;
}

bool IsBlank(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// The file name at the end of a path spelt as markup, spelt as markup too:
// what follows the last "/" the browser reads, a raw one or a reference,
// without the blanks the browser reads around it.
std::string FileNameMarkup(const std::string& sPathMarkup, const CPageChars& page) {
  const std::vector<ReadCharacter> chars = ReadCharacters(sPathMarkup, page);
  size_t first = 0;
  for (size_t i = 0; i < chars.size(); ++i) {
    if (chars[i].ascii == '/') first = i + 1;
  }
  size_t last = chars.size();
  while (first < last && IsBlank(chars[first].ascii)) ++first;
  while (last > first && IsBlank(chars[last - 1].ascii)) --last;
  if (first == last) return std::string();
  // From right after the slash or blank, so that a shift sequence the name
  // begins with stays with it.
  const size_t begin = first > 0 ? chars[first - 1].end : 0;
  return sPathMarkup.substr(begin, chars[last - 1].end - begin);
}

const char* TypeWord(DWORD dwDocumentType) {
  if (dwDocumentType == DocumentType::Unc) return "UNC";
  if (dwDocumentType == DocumentType::SharePoint) return "Sharepoint";
  return "unknown";
}

const char* LevelWord(DWORD dwLevel) {
  if (dwLevel == OwaAttachmentLevel::Blocked) return "blocked";
  if (dwLevel == OwaAttachmentLevel::ForceSave) return "force-save";
  return "allowed";
}

// The link's "id" is the file's address behind a marker letter "b".
bool HasMarker(const std::string& sPath, const char* pMarker) {
  const ci_string csMarker(pMarker);
  return sPath.size() >= csMarker.size() && ToCI(sPath.substr(0, csMarker.size())) == csMarker;
}

void RemoveMarker(std::string& sPath, DWORD dwDocumentType) {
  const bool bMarked = dwDocumentType == DocumentType::Unc
                           ? HasMarker(sPath, "bfile://")
                           : HasMarker(sPath, "bhttp://") || HasMarker(sPath, "bhttps://");
  if (bMarked) sPath.erase(0, 1);
}

}  // namespace

CPLPremiumFormDocumentView::CPLPremiumFormDocumentView(CHXFormContext* pFormContext)
    : CPLForm(pFormContext), CPLFormWithFiles(pFormContext, 0) {}

CPLPremiumFormDocumentView::~CPLPremiumFormDocumentView() = default;

bool CPLPremiumFormDocumentView::FileListTablesFound(const CDOMElement& header, const CDOMElement& list,
                                                     const char* pPrefix, DWORD& dwRet) {
  if (list.isUndefined()) {
    DebugLog("%s<TABLE id='%s'> element was not found. The list of files is empty.", pPrefix, "tblIL");
    dwRet = 0;
    return false;
  }
  if (header.isUndefined()) {
    DebugLog("%sFile list header <TABLE id='%s'> element was not found.", pPrefix, "tblH");
    dwRet = HX_RC_INVALID_DATA;
    return false;
  }
  return true;
}

DWORD CPLPremiumFormDocumentView::ProcessFileList(const CDOMElement& header, const CDOMElement& list) {
  DebugLog("%sStarts.", kListPrefix);
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  DWORD dwRet = 0;
  const CDOMStartTag headerRow = header.getFirstStartTagByTagName("TR");
  if (headerRow.isUndefined()) {
    DebugLog("%s<TR> strat tag inside <TABLE id='%s'> element was not found.", kListPrefix, "tblH");
    dwRet = HX_RC_INVALID_DATA;
  } else if ((dwRet = headerRow.insertDataAfter("<td style=\"width:24;\"></td>", pList)) != 0) {
    DebugLog("%sCDOMStartTag::insertDataAfter() failed.", kListPrefix);
  } else if ((dwRet = list.getStartTag().insertDataAfter("<col style=\"width:24\">", pList)) != 0) {
    DebugLog("%sCDOMStartTag::insertDataAfter() failed when inserting <col> element for PL binocular.", kListPrefix);
  } else {
    const CDOMElementVector rows = list.getElementsByTagName("TR");
    for (size_t i = 0; i < rows.length() && dwRet == 0; ++i) {
      const CDOMElement row = rows.item(i);
      const CDOMAttribute id = row.getAttribute("id");
      // File rows carry exactly "us"; other rows (a header, "US") are left.
      if (id.isUndefined() || !id.hasValue() || id.getValue() != "us") continue;
      dwRet = ProcessFileRowElement(row);
      if (dwRet != 0) DebugLog("%sProcessFileRowElement() failed.", kListPrefix);
    }
  }
  DebugLog("%sreturned dwRet <%d>.", kListPrefix, static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormDocumentView::ProcessFileRowElement(const CDOMElement& row) {
  DebugLog("%sStarts.", kRowPrefix);
  DWORD dwRet = HX_RC_INVALID_DATA;
  const CDOMStartTag link = row.getFirstStartTagByTagName("A");
  const CDOMAttribute flagsAttribute = link.isUndefined() ? CDOMAttribute() : link.getAttribute("t");
  int32_t nFlags = 0;
  if (link.isUndefined()) {
    DebugLog("%s<A> element was not found.", kRowPrefix);
  } else if (flagsAttribute.isUndefined() || !flagsAttribute.hasValue()) {
    DebugLog("%s<A> element's '%s' attribute doesn't exist or it is empty.", kRowPrefix, "t");
  } else if (const ci_string csFlags = ToCI(DecodeHtmlCharacterReferences(flagsAttribute.getValue()));
             !CStringOperation::String2Int(csFlags, nFlags, 10) || (nFlags & 0x3) == 0) {
    DebugLog("%sInvalid file type flags value <%s>.", kRowPrefix, csFlags.c_str());
  } else if (HasNoViewLink(nFlags)) {
    dwRet = link.insertDataAfter("<td nowrap></td>", m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCDOMStartTag::insertDataAfter() failed.", kRowPrefix);
  } else if (nFlags == kSharePointDocument || nFlags == kUncDocument) {
    dwRet =
        ProcessDocumentViewDocument(link, nFlags == kSharePointDocument ? DocumentType::SharePoint : DocumentType::Unc);
    if (dwRet != 0) DebugLog("%sProcessDocumentViewDocument() failed.", kRowPrefix);
  } else {
    DebugLog("%sInvalid filetype flags attrib value <%d>.", kRowPrefix, static_cast<int>(nFlags));
  }
  DebugLog("%sreturned dwRet <%d>.", kRowPrefix, static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormDocumentView::ProcessDocumentViewDocument(const CDOMStartTag& link, DWORD dwDocumentType) {
  DebugLog("%sStarted.", kDocumentPrefix);
  const DWORD dwRet = ProcessDocumentSteps(link, dwDocumentType);
  DebugLog("%sreturned <%d>.", kDocumentPrefix, static_cast<int>(dwRet));
  return dwRet;
}

// The path stays as the page writes it wherever it goes back into markup;
// the hash and the force-save identifier take it as the browser reads it
// (character references decoded), which is what the product's requests
// carry back.
DWORD CPLPremiumFormDocumentView::ProcessDocumentSteps(const CDOMStartTag& link, DWORD dwDocumentType) {
  const CDOMAttribute id = link.getAttribute("id");
  if (id.isUndefined() || !id.hasValue()) {
    DebugLog("%s<A> element's '%s' attribute doesn't exist or it is empty.", kDocumentPrefix, "id");
    return HX_RC_INVALID_DATA;
  }
  ci_string csPath = ToCI(id.getValue());
  CStringOperation::Trim(csPath, " \r\n\t");
  std::string sPath = ToStd(csPath);
  if (dwDocumentType != DocumentType::Unc && dwDocumentType != DocumentType::SharePoint) {
    DebugLog("%sInvalid document type <%d>.", kDocumentPrefix, static_cast<int>(dwDocumentType));
    return HX_RC_INVALID_DATA;
  }
  RemoveMarker(sPath, dwDocumentType);
  if (sPath.empty()) {
    std::string sLinkHTML;
    link.getHTML(sLinkHTML);
    DebugLog("%s%s File path is empty. %s ", kDocumentPrefix, TypeWord(dwDocumentType), sLinkHTML.c_str());
    return HX_RC_INVALID_DATA;
  }
  const std::string sFileName = FileNameMarkup(sPath, PageChars());
  if (sFileName.empty()) {
    DebugLog("%sFilename is empty. %s File path <%s>.", kDocumentPrefix, TypeWord(dwDocumentType), sPath.c_str());
    return HX_RC_INVALID_DATA;
  }
  ci_string csExtension;
  bool bBlocked = false;
  // The name is read as the download check reads the link's "URL": the
  // file name of a SharePoint or file share URL is its path's last segment.
  DWORD dwRet = GetFileExtensionAndBlockedFlag(sPath, csExtension, bBlocked);
  if (dwRet != 0) {
    DebugLog("%sGetFileExtensionAndBlockedFlag() failed. sFilename <%s>.", kDocumentPrefix, sFileName.c_str());
    return dwRet;
  }
  DebugLog("%s%s File path <%s>; filename <%s>; extension <%s>; extension blocked by PL? <%s>.", kDocumentPrefix,
           TypeWord(dwDocumentType), sPath.c_str(), sFileName.c_str(), csExtension.c_str(), YN(bBlocked));

  const std::string sCell = bBlocked ? BlockedCellHTML() : ViewCellHTML(sPath, sFileName, dwDocumentType);
  dwRet = link.insertDataAfter(sCell, m_pFormContext->m_pcobBufferInstructionList);
  if (dwRet != 0) {
    DebugLog("%sCDOMStartTag::insertDataAfter() failed.", kDocumentPrefix);
    return dwRet;
  }

  const bool bPublicClient = (m_pFormContext->m_pContext->m_dwRequestFlags & RequestFlag::FBAPublicClient) != 0;
  DWORD dwLevel = 0;
  // The download check takes the level of every reading of the name.
  dwRet = OWAFileAccessLevelOfName(
      AsCIView(DecodeHtmlCharacterReferences(sPath)),
      COWANamedExtensions(CPLHXGeneralSettings::getInstance()->GetOWAADConfig()),
      [&](const ci_string& extension, DWORD& level) { return GetOWAFileAccessLevel(extension, bPublicClient, level); },
      dwLevel);
  if (dwRet != 0) {
    DebugLog("%sCPLHXGeneralSettings::GetOWAFileAccessLevel() failed.", kDocumentPrefix);
    return dwRet;
  }
  if (dwLevel < OwaAttachmentLevel::Blocked || dwLevel > OwaAttachmentLevel::Allowed) {
    DebugLog("%sOWA File Access Level is invalid <%d>.", kDocumentPrefix, static_cast<int>(dwLevel));
    return HX_RC_INVALID_DATA;
  }
  DebugLog("%sextension <%s> OWA File Access Level <%d> <%s>.", kDocumentPrefix, csExtension.c_str(),
           static_cast<int>(dwLevel), LevelWord(dwLevel));
  dwRet = AddPLContextMenuAttributesToFileLinkElement(link, sPath, sFileName, csExtension, dwLevel, bBlocked,
                                                      dwDocumentType);
  if (dwRet != 0) DebugLog("%sAddPLContextMenuAttributesToFileLinkElement() failed.", kDocumentPrefix);
  return dwRet;
}

DWORD CPLPremiumFormDocumentView::GetOWAFileAccessLevel(const ci_string& csExtension, bool bPublicClient,
                                                        DWORD& dwLevel) {
  return ::GetOWAFileAccessLevel(csExtension, IsDirectFileAccessEnabledByOWA(bPublicClient), bPublicClient, dwLevel);
}

std::string CPLPremiumFormDocumentView::BlockedCellHTML() const {
  return "<td id=_QLPLBlockedDocTD nowrap><a id=_QLPLBlockedDocA onDblClick=\"return false;\" "
         "onClick='javascript:f_ShowExtBlockedMsg();' title=\"" +
         m_sBlockedExtensionText + "\" onMouseOver=\"this.style.cursor='hand';\"><img id=_QLPLBlockedDocIMG src=\"" +
         ProductImagePath("Find_Blocked.GIF") + "\" align='bottom' BORDER='0'></a></td>";
}

std::string CPLPremiumFormDocumentView::ViewCellHTML(const std::string& sFilePath, const std::string& sFileName,
                                                     DWORD dwDocumentType) const {
  std::string sHTML;
  sHTML.reserve(128);
  sHTML +=
      "<td id=_QLPLViewDocTD nowrap><a id=_QLPLViewDocA onDblClick=\"return false;\" "
      "onClick='javascript:f_viewAttachment(\"";
  sHTML += MarkupInScriptAttribute(sFilePath, ScriptCarrier::EventHandler, PageChars());
  sHTML += "\",";
  sHTML += ToString(m_nDefaultVisualisation);
  sHTML += ",\"";
  sHTML += MarkupNameInScriptAttribute(sFileName, ScriptCarrier::EventHandler, PageChars());
  sHTML += "\",\"";
  sHTML += dwDocumentType == DocumentType::SharePoint ? "wss" : "unc";
  sHTML += "\");' title=\"";
  sHTML += m_sViewAttachmentText;
  sHTML += "\" onMouseOver=\"this.style.cursor='hand';\"><img id=_QLPLViewDocIMG src=\"";
  sHTML += ProductImagePath("Find.GIF");
  sHTML += "\" align='bottom' BORDER='0'></a></td>";
  return sHTML;
}

DWORD CPLPremiumFormDocumentView::AddPLContextMenuAttributesToFileLinkElement(
    const CDOMStartTag& link, const std::string& sFilePath, const std::string& sFileName, const ci_string& csExtension,
    DWORD dwLevel, bool bBlocked, DWORD dwDocumentType) {
  std::string sText = " ";
  sText.reserve(256);
  DebugLog("%sStarts.", kMenuPrefix);
  PLContextMenuFlags flags;
  DWORD dwRet = GetPLContextMenuFlags(csExtension, dwLevel, bBlocked, flags);
  if (dwRet != 0) {
    DebugLog("%sGetPLContextMenuFlags() failed.", kMenuPrefix);
    DebugLog("%sreturned <%d>.", kMenuPrefix, static_cast<int>(dwRet));
    return dwRet;
  }
  AppendMenuFlagAttributes(sText, flags, PageChars());
  AppendMenuAttribute(sText, "_QLPLFilename", sFileName, PageChars());
  if (IsDirectAccessOffered(flags)) {
    const std::string sRequestPath = DecodeHtmlCharacterReferences(sFilePath);
    AppendMenuAttribute(sText, "_QLPLFileIDHash", CUtil::HashString(sRequestPath.c_str()), PageChars());
    if (dwLevel == OwaAttachmentLevel::ForceSave) {
      if (dwDocumentType == DocumentType::Unc) {
        std::string sForceSaveID = sRequestPath + "?UriFlags=UncDocument";
        if (!CStringOperation::Encode64(sForceSaveID)) {
          DebugLog("%sCStringOperation::Encode64() failed.", kMenuPrefix);
          dwRet = HX_RC_MISSING;
        } else {
          AppendMenuAttribute(sText, "_QLPLOWAForceSaveID", sForceSaveID, PageChars());
        }
      } else if (dwDocumentType == DocumentType::SharePoint) {
        AppendMenuAttribute(sText, "_QLPLOWAForceSaveID", "unresolved", PageChars());
      } else {
        DebugLog("%sInvalid DocumentView document type: <%d>.", kMenuPrefix, static_cast<int>(dwDocumentType));
        dwRet = HX_RC_INVALID_DATA;
      }
    }
  }
  if (dwRet == 0) {
    dwRet =
        m_pFormContext->m_spDom->insertData(link.getEndPos() - 1, sText, m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCUtil::InsertHtmlStringAtPosition() failed.", kMenuPrefix);
  }
  DebugLog("%sreturned <%d>.", kMenuPrefix, static_cast<int>(dwRet));
  return dwRet;
}
