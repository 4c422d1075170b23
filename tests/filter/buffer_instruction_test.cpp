#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/buffer_instruction.h"

namespace {

CBufferInstruction* Insert(ULONGLONG address, const char* text) {
  auto* i = new CBufferInstruction;
  i->m_dwType = CBufferInstruction::TypeInsert;
  i->m_qwAddress = address;
  i->SetText(text);
  return i;
}

CBufferInstruction* Delete(ULONGLONG address, DWORD length) {
  auto* i = new CBufferInstruction;
  i->m_dwType = CBufferInstruction::TypeDelete;
  i->m_qwAddress = address;
  i->m_dwLength = length;
  return i;
}

// "i100:a" / "d100:5", in list order, walking forwards.
std::vector<std::string> Walk(const CBufferInstructionList& list) {
  std::vector<std::string> out;
  for (const CBufferInstructionNode* n = list.First(); n != list.End(); n = n->m_pNext) {
    const CBufferInstruction* i = n->m_spInstruction.get();
    out.push_back((i->m_dwType == 0 ? "i" : "d") + std::to_string(i->m_qwAddress) + ":" +
                  (i->m_dwType == 0 ? std::string(i->m_pszText) : std::to_string(i->m_dwLength)));
  }
  return out;
}

TEST(BufferInstructionList, OrderByAddressInsertsFirstNewestFirst) {
  CBufferInstructionList list;
  EXPECT_EQ(list.AddInstruction(Delete(100, 5)), 0u);
  EXPECT_EQ(list.AddInstruction(Insert(100, "a")), 0u);
  EXPECT_EQ(list.AddInstruction(Insert(100, "b")), 0u);
  EXPECT_EQ(list.AddInstruction(Insert(50, "c")), 0u);
  EXPECT_EQ(list.AddInstruction(Delete(100, 2)), 0u);
  EXPECT_EQ(list.AddInstruction(Insert(0xFFFFFFFF00000000ull, "hi")), 0u);
  EXPECT_EQ(Walk(list), (std::vector<std::string>{"i50:c", "i100:b", "i100:a", "d100:2", "d100:5",
                                                  "i18446744069414584320:hi"}));
  EXPECT_EQ(list.size(), 6u);

  // The backward links agree with the forward ones.
  std::vector<const CBufferInstructionNode*> back;
  for (const CBufferInstructionNode* n = list.End()->m_pPrev; n != list.End(); n = n->m_pPrev) back.push_back(n);
  ASSERT_EQ(back.size(), 6u);
  EXPECT_EQ(back.back(), list.First());
}

TEST(BufferInstructionList, RefusesWhatCannotBeApplied) {
  CBufferInstructionList list;
  EXPECT_EQ(list.AddInstruction(new CBufferInstruction), 13u);  // type unset
  auto* noText = new CBufferInstruction;
  noText->m_dwType = CBufferInstruction::TypeInsert;
  EXPECT_EQ(list.AddInstruction(noText), 13u);
  EXPECT_EQ(list.AddInstruction(Delete(10, 0)), 13u);
  auto* badType = Insert(10, "x");
  badType->m_dwType = 2;
  EXPECT_EQ(list.AddInstruction(badType), 13u);
  EXPECT_EQ(list.AddInstruction(nullptr), 13u);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.First(), list.End());
}

TEST(BufferInstruction, TextIsAnOwnedCopy) {
  CBufferInstruction i;
  EXPECT_EQ(i.m_dwType, CBufferInstruction::TypeUnset);
  EXPECT_EQ(i.m_qwAddress, 0u);
  EXPECT_EQ(i.m_pszText, nullptr);
  std::string source = "<script/>";
  i.SetText(source.c_str());
  source[0] = 'X';
  EXPECT_STREQ(i.m_pszText, "<script/>");
  EXPECT_EQ(i.m_bOwnsText, 1u);
  i.SetText(i.m_pszText + 1);  // from its own buffer
  EXPECT_STREQ(i.m_pszText, "script/>");
  i.SetText("");
  EXPECT_STREQ(i.m_pszText, "");
  i.SetText(nullptr);
  EXPECT_EQ(i.m_pszText, nullptr);
  EXPECT_EQ(i.m_bOwnsText, 0u);
}

TEST(BufferInstructionList, SharedInstructionOutlivesTheList) {
  CCountedPtr<CBufferInstruction> kept;
  {
    CBufferInstructionList list;
    list.AddInstruction(Insert(7, "x"));
    kept = list.First()->m_spInstruction;
    EXPECT_EQ(kept.UseCount(), 2u);
  }
  EXPECT_EQ(kept.UseCount(), 1u);
  EXPECT_STREQ(kept->m_pszText, "x");
}

}  // namespace
