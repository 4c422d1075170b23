// The file list of the Premium document view (a SharePoint library or a UNC
// file share): a narrow leading column, and in every document row a cell
// with the product's view link (or, for an extension the product blocks, a
// marker that shows the block message) plus the context-menu attributes the
// product's scripts read on the document's link. Nothing is removed.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "forms/pl_form_with_files.h"
#include "platform/win_types.h"

class CDOMElement;
class CDOMStartTag;

// Where a document lives.
namespace DocumentType {
constexpr DWORD Unc = 0;
constexpr DWORD SharePoint = 1;
}  // namespace DocumentType

class CPLPremiumFormDocumentView : public CPLFormWithFiles {
 public:
  // CPLForm is a virtual base: the most derived class builds it.
  explicit CPLPremiumFormDocumentView(CHXFormContext* pFormContext);
  ~CPLPremiumFormDocumentView() override;

  // Adds the column and processes every row whose id is exactly "us"; stops
  // at the first failing row. 13 when the header table has no row.
  DWORD ProcessFileList(const CDOMElement& header, const CDOMElement& list);
  // One file row: an empty cell for the entries without a view link
  // (flags 5, 6, 33, 34), the document handling for SharePoint (17) and UNC
  // (18) documents; 13 for a missing link or any other flags value.
  DWORD ProcessFileRowElement(const CDOMElement& row);
  // The view or blocked cell after the link's start tag, then the link's
  // context-menu attributes. 13 for a missing or empty path or file name.
  DWORD ProcessDocumentViewDocument(const CDOMStartTag& link, DWORD dwDocumentType);
  // The menu flags, file name and, when Open or Save is offered, the
  // file-ID hash and the force-save identifier, before the link's ">".
  // Nothing is recorded on failure.
  DWORD AddPLContextMenuAttributesToFileLinkElement(const CDOMStartTag& link, const std::string& sFilePath,
                                                    const std::string& sFileName, const ci_string& csExtension,
                                                    DWORD dwLevel, bool bBlocked, DWORD dwDocumentType);

 protected:
  // Whether the page has both tables of the file list, header ("tblH") and
  // list ("tblIL"). Without the list there are no files and dwRet is 0;
  // without the header the page is not the one expected and dwRet is 13.
  static bool FileListTablesFound(const CDOMElement& header, const CDOMElement& list, const char* pPrefix,
                                  DWORD& dwRet);
  // OWA's file access level of the extension for this class of client; 0 on
  // success.
  virtual DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool bPublicClient, DWORD& dwLevel);

 private:
  DWORD ProcessDocumentSteps(const CDOMStartTag& link, DWORD dwDocumentType);
  std::string ViewCellHTML(const std::string& sFilePath, const std::string& sFileName, DWORD dwDocumentType) const;
  std::string BlockedCellHTML() const;
};
