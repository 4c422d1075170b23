// The edit list that the forms build, against the same edits put in order by
// walking the list from its head for each one, as the list did before it
// sought the place from both ends: on the sample pages and on a read page of
// many attachments and a document library of many rows, the two lists agree
// instruction for instruction.
#include <gtest/gtest.h>

#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "edit_order/recorded_edits.h"
#include "forms/form_page.h"
#include "forms/premium/pl_premium_form_get_document_view.h"
#include "forms/premium/pl_premium_form_read_item.h"
#include "forms/premium_forms.h"

namespace {

using formtest::FormPage;

// The order kept by walking from the head: before the first edit at a
// greater address, or at the same address with a type number not below the
// new one's.
std::vector<RecordedEdit> HeadWalkOrder(const std::vector<RecordedEdit>& added) {
  std::list<RecordedEdit> ordered;
  for (const RecordedEdit& edit : added) {
    auto before = ordered.begin();
    while (before != ordered.end() &&
           !(before->address > edit.address || (before->address == edit.address && before->type >= edit.type))) {
      ++before;
    }
    ordered.insert(before, edit);
  }
  return {ordered.begin(), ordered.end()};
}

std::string Describe(DWORD type, uint64_t address, const std::string& text, DWORD length) {
  return (type == 0 ? "insert " + text : "delete " + std::to_string(length)) + " at " + std::to_string(address);
}

// Runs the form over the page and compares its list with the head-walk order
// of the edits it recorded.
template <class TForm>
void ExpectHeadWalkOrder(FormPage& page, size_t atLeast) {
  RecordedEdits().clear();
  const auto ctx = page.Context();
  TForm form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::vector<RecordedEdit> expected = HeadWalkOrder(RecordedEdits());
  ASSERT_GE(expected.size(), atLeast);
  ASSERT_EQ(expected.size(), page.List().size());
  size_t i = 0;
  for (const CBufferInstructionNode* n = page.List().First(); n != page.List().End(); n = n->m_pNext, ++i) {
    const CBufferInstruction& got = *n->m_spInstruction;
    const RecordedEdit& want = expected[i];
    ASSERT_EQ(Describe(want.type, want.address, want.text, want.length),
              Describe(got.m_dwType, got.m_qwAddress, got.m_dwType == 0 ? got.m_pszText : "", got.m_dwLength))
        << "instruction " << i;
  }
}

std::string ReadSamplePage(const char* name) {
  std::ifstream in(std::string(HX_SOURCE_DIR) + "/samples/pages/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The sample page's attachment well repeated with identifiers of its own.
std::string ManyAttachments(const std::string& sample, int copies) {
  const size_t begin = sample.find("<span id=\"spnAtmt\"");
  const size_t end = sample.rfind("</div>", sample.find("<div id=\"divBdy\""));
  std::string well;
  for (int i = 0; i < copies; ++i) {
    std::string copy = sample.substr(begin, end - begin);
    for (size_t at = copy.find("RgAAAAB2cE1kAAA"); at != std::string::npos; at = copy.find("RgAAAAB2cE1kAAA", at + 1)) {
      copy.insert(at + 12, std::to_string(i) + "x");
    }
    well += copy;
  }
  return sample.substr(0, begin) + well + sample.substr(end);
}

// The sample library's rows repeated.
std::string ManyRows(const std::string& sample, int copies) {
  const size_t begin = sample.find("<tr id=\"us\">");
  const size_t end = sample.find("</table>", begin);
  std::string rows;
  for (int i = 0; i < copies; ++i) rows += sample.substr(begin, end - begin);
  return sample.substr(0, begin) + rows + sample.substr(end);
}

// The item of the sample read request.
const char kItemId[] = "RgAAAAB2cE1kq2tKT5bYpZ0wVQrXBwC5";

class EditOrder : public formtest::PremiumFormTest {};

TEST_F(EditOrder, FormsBuildTheHeadWalkOrderOnSampleAndLargePages) {
  using ReadForm = formtest::WithDirectAccess<CPLPremiumFormReadItem>;
  using LibraryForm = formtest::WithAccessLevels<CPLPremiumFormGETDocumentView>;
  const std::string readPage = ReadSamplePage("premium_read_item.html");
  const std::string libraryPage = ReadSamplePage("premium_document_view.html");
  {
    SCOPED_TRACE("sample read page");
    FormPage page(readPage, 1);
    page.Record().m_spRequestInfo->m_mapParams["id"] = kItemId;
    ExpectHeadWalkOrder<ReadForm>(page, 10);
  }
  {
    SCOPED_TRACE("read page of 2,000 attachments");
    FormPage page(ManyAttachments(readPage, 400), 1);
    page.Record().m_spRequestInfo->m_mapParams["id"] = kItemId;
    ExpectHeadWalkOrder<ReadForm>(page, 2000);
  }
  {
    SCOPED_TRACE("sample document library");
    FormPage page(libraryPage, 1);
    ExpectHeadWalkOrder<LibraryForm>(page, 5);
  }
  {
    SCOPED_TRACE("document library of many rows");
    FormPage page(ManyRows(libraryPage, 500), 1);
    ExpectHeadWalkOrder<LibraryForm>(page, 1000);
  }
}

}  // namespace
