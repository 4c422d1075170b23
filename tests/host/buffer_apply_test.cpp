#include <gtest/gtest.h>

#include <string>

#include "host/hx_buffer_apply.h"

namespace {

class Edits {
 public:
  explicit Edits(const std::string& page) : m_page(page) {}
  Edits& Insert(long long offset, const char* text) {
    auto* i = new CBufferInstruction;
    i->m_dwType = CBufferInstruction::TypeInsert;
    i->m_qwAddress = Address(offset);
    i->SetText(text);
    EXPECT_EQ(m_list.AddInstruction(i), 0u);
    return *this;
  }
  Edits& Delete(long long offset, DWORD length) {
    auto* i = new CBufferInstruction;
    i->m_dwType = CBufferInstruction::TypeDelete;
    i->m_qwAddress = Address(offset);
    i->m_dwLength = length;
    EXPECT_EQ(m_list.AddInstruction(i), 0u);
    return *this;
  }
  DWORD Apply(std::string& out) const { return HxApplyBufferInstructions(m_page.data(), m_page.size(), m_list, out); }
  CBufferInstructionList& List() { return m_list; }

 private:
  ULONGLONG Address(long long offset) const {
    return static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(m_page.data()) + offset);
  }
  std::string m_page;
  CBufferInstructionList m_list;
};

TEST(HostBufferApply, EditsReferToTheBufferAsHandedOver) {
  Edits e("<html><head></head><body>text</body></html>");
  e.Insert(12, "<script src='a.js'></script>")  // before </head>
      .Delete(25, 4)                              // "text"
      .Insert(25, "new")
      .Insert(0, "<!-- mark -->")
      .Insert(43, "\n");                          // right after the last byte
  std::string out = "untouched";
  ASSERT_EQ(e.Apply(out), 0u);
  EXPECT_EQ(out, "<!-- mark --><html><head><script src='a.js'></script></head><body>new</body></html>\n");
}

TEST(HostBufferApply, EmptyListGivesTheBufferUnchanged) {
  Edits e("abc");
  std::string out;
  ASSERT_EQ(e.Apply(out), 0u);
  EXPECT_EQ(out, "abc");
}

TEST(HostBufferApply, AddressesOutsideTheBufferAreRefused) {
  const struct {
    long long offset;
    bool insert;
    DWORD length;
  } cases[] = {{-1, true, 0}, {11, true, 0}, {-5, false, 2}, {8, false, 3}, {10, false, 1}, {0, false, 11}};
  for (const auto& c : cases) {
    Edits e("0123456789");
    e.Insert(2, "ok");
    if (c.insert) {
      e.Insert(c.offset, "x");
    } else {
      e.Delete(c.offset, c.length);
    }
    std::string out = "untouched";
    EXPECT_EQ(e.Apply(out), kHxApplyAddressOutside) << c.offset << "/" << c.length;
    EXPECT_EQ(out, "untouched");
  }
  Edits whole("0123456789");
  whole.Delete(0, 10);
  std::string out;
  EXPECT_EQ(whole.Apply(out), 0u);
  EXPECT_EQ(out, "");
}

TEST(HostBufferApply, OverlapsAndMalformedLists) {
  Edits overlapping("0123456789");
  overlapping.Delete(2, 3).Delete(3, 4);  // bytes 2..6 go
  std::string out;
  ASSERT_EQ(overlapping.Apply(out), 0u);
  EXPECT_EQ(out, "01789");

  Edits insideDeleted("0123456789");
  insideDeleted.Delete(2, 5).Insert(4, "x");
  out = "untouched";
  EXPECT_EQ(insideDeleted.Apply(out), kHxApplyBadInstruction);
  EXPECT_EQ(out, "untouched");

  Edits badType("0123456789");
  badType.Insert(1, "x");
  const_cast<CBufferInstruction*>(badType.List().First()->m_spInstruction.get())->m_dwType = 7;
  EXPECT_EQ(badType.Apply(out), kHxApplyBadInstruction);

  Edits lyingCount("0123456789");
  lyingCount.Insert(1, "x").Insert(2, "y");
  lyingCount.List().m_qwCount = 1;
  EXPECT_EQ(lyingCount.Apply(out), kHxApplyBadInstruction);
  lyingCount.List().m_qwCount = 3;
  EXPECT_EQ(lyingCount.Apply(out), kHxApplyBadInstruction);
  lyingCount.List().m_qwCount = 2;
  EXPECT_EQ(lyingCount.Apply(out), 0u);
  EXPECT_EQ(out, "0x1y23456789");
}

}  // namespace
