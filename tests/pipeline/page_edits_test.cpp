#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filter/buffer_instruction.h"
#include "filter/content_type_edit.h"
#include "filter/control_message.h"
#include "filter/core_services.h"
#include "filter/decoded_page.h"
#include "filter/dll_context.h"
#include "filter/result_codes.h"
#include "filter/send_raw_data.h"
#include "filter/util.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_exception.h"
#include "forms/pl_form.h"

namespace {

struct Seen {
  DWORD type;
  ULONGLONG address;
  std::string text;
  DWORD length;
};

std::vector<Seen> Walk(const CBufferInstructionList& list) {
  std::vector<Seen> out;
  for (const CBufferInstructionNode* n = list.First(); n != list.End(); n = n->m_pNext) {
    const CBufferInstruction* i = n->m_spInstruction.get();
    out.push_back({i->m_dwType, i->m_qwAddress, i->m_pszText ? i->m_pszText : "", i->m_dwLength});
  }
  return out;
}

// The response with the edits applied as the host applies them (no
// overlapping deletes here).
std::string Applied(const std::string& response, const CBufferInstructionList& list) {
  const auto base = reinterpret_cast<uintptr_t>(response.data());
  std::string out;
  size_t done = 0;
  for (const Seen& e : Walk(list)) {
    const size_t at = e.address - base;
    out.append(response, done, at - done);
    done = at;
    if (e.type == CBufferInstruction::TypeInsert) out += e.text;
    if (e.type == CBufferInstruction::TypeDelete) done += e.length;
  }
  return out + response.substr(done);
}

// The Content-Type names the set the page was walked in: replaced where it
// names it otherwise or not plainly, the page refused where the header cannot
// be found or is not there.
TEST(ContentTypeEdit, NamesTheSetWalked) {
  const struct {
    const char* head;  // status line and headers, without the blank line
    const char* set;
    const char* answered;  // the headers as they go out; null: refused
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", "UTF-8",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html", "UTF-8",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8"},
      {"HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=cp932; x=1", "Shift_JIS",
       "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=Shift_JIS"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=x-mac-chinesetrad", "x-mac-chinesetrad",
       "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=Big5"},
      // A type the browser cannot parse is no page it renders: never made
      // one.
      {"HTTP/1.1 200 OK\r\nContent-Type: ;charset=shift_jis", "UTF-8", nullptr},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html/x; charset=shift_jis", "Shift_JIS", nullptr},
      // Without the header the browser sniffs the type: none is made up.
      {"HTTP/1.1 200 OK\r\nContent-Length: 2", "UTF-8", nullptr},
      // The browser reads the last Content-Type, a lone CR ending a line, a
      // continued one whole, and the headers up to the first blank line.
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=shift_jis\r\ncontent-type : text/html", "Shift_JIS",
       nullptr},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nX-A: 1\rContent-Type: text/html; charset=big5",
       "UTF-8", nullptr},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=shift_jis\r\n charset=utf-8", "Shift_JIS", nullptr},
      {"HTTP/1.1 200 OK\r\nX-A: 1\n\r\nContent-Type: text/html; charset=utf-8", "UTF-8", nullptr},
      // Read as XML by the browser.
      {"HTTP/1.1 200 OK\r\nContent-Type: application/xhtml+xml; charset=utf-8", "UTF-8", nullptr},
  };
  for (const auto& c : cases) {
    const std::string response = std::string(c.head) + "\r\n\r\nab";
    CCommonPointers words;
    const auto base = reinterpret_cast<uintptr_t>(response.data());
    const size_t type = response.find("Content-Type: ");
    words[CCommonPointers::FirstByte] = base;
    words[CCommonPointers::LastByte] = base + response.size() - 1;
    words[CCommonPointers::HtmlBegin] = base + response.size() - 2;
    words[CCommonPointers::CharSetText] = type == std::string::npos ? base : base + type + 14;
    words[CCommonPointers::CharSetTextLength] = type == std::string::npos ? 0 : response.find('\r', type) - type - 14;
    PageCharSetChoice choice = ChoosePageCharSet(
        std::string_view(words.Address(CCommonPointers::CharSetText), words[CCommonPointers::CharSetTextLength]), "ab");
    choice.set = c.set;
    choice.bHeaderStatesIt = choice.bHeaderStatesIt && choice.set == c.set;
    CBufferInstructionList list;
    EXPECT_EQ(c.answered != nullptr ? 0u : HX_RC_INVALID_DATA, StatePageCharSet(words, choice, &list)) << c.head;
    if (c.answered != nullptr) {
      EXPECT_EQ(Applied(response, list), std::string(c.answered) + "\r\n\r\nab") << c.head;
    }
  }
  // A Content-Type outside the headers is not trusted.
  const std::string response = "HTTP/1.1 200 OK\r\n\r\ntext/html";
  CCommonPointers words;
  const auto base = reinterpret_cast<uintptr_t>(response.data());
  words[CCommonPointers::FirstByte] = base;
  words[CCommonPointers::HtmlBegin] = base + 19;
  words[CCommonPointers::CharSetText] = base + 19;
  words[CCommonPointers::CharSetTextLength] = 9;
  CBufferInstructionList list;
  EXPECT_EQ(HX_RC_INVALID_DATA, StatePageCharSet(words, PageCharSetChoice(), &list));
}

// A page in HZ goes back out in the characters it was read in.
TEST(DecodedPage, EncodesBackAsBrowsersEncode) {
  const std::string hz = "<p title=\"~{<:~}\">";
  CCommonPointers words;
  const auto base = reinterpret_cast<uintptr_t>(hz.data());
  words[CCommonPointers::FirstByte] = base;
  words[CCommonPointers::HtmlBegin] = base;
  words[CCommonPointers::LastByte] = base + hz.size() - 1;
  CDecodedPage decoded;
  ASSERT_TRUE(decoded.Decode(words, "HZ-GB-2312"));
  std::string out;
  ASSERT_TRUE(decoded.EncodeEdited(CBufferInstructionList(), out));
  // ICU's HZ encoder opens with a shift to ASCII, which reads as nothing.
  EXPECT_TRUE(out == hz || out == "~}" + hz) << out;
}

// An ISO-2022-JP page keeps the server's bytes outside the edits: a line
// break inside a two-byte run stays in the run, an escape browsers do not
// know stays an error, and each inserted text is written for the state at
// its place and gives the state back to the bytes after it.
TEST(DecodedPage, Iso2022JpPagesKeepTheServersBytes) {
  const struct {
    std::string page;
    std::string mark;    // the decoded text before whose last place the edit goes
    bool bReplace;       // the mark's first character is replaced
    std::string insert;  // UTF-8
    std::string edited;
  } cases[] = {
      // The insert goes in before the run; the run's break is no way out.
      {"<b>\x1B$B0*\n<img src=x>\x1B(B</b>", "\xE8\x91\xB5", false, "<i>",
       "<b><i>\x1B$B0*\n<img src=x>\x1B(B</b>"},
      // Inside a run: ASCII after a shift, the run's state given back (here
      // by the page's own shift).
      {"\x1B$B0*0*\x1B(B", "\xE8\x91\xB5", true, "\"x\"", "\x1B$B0*\x1B(B\"x\"\x1B(B"},
      // Roman and katakana text, JIS X 0212 and an unknown escape kept as sent.
      {"\x1B(J\\a\x1B(I1\x1B$(D0!\x1B$@0!\x1B(B<p>", "<p>", false, "\xC2\xA5\xEF\xBD\xB1\xE4\xBA\x9C",
       "\x1B(J\\a\x1B(I1\x1B$(D0!\x1B$@0!\x1B(J\\\x1B(I1\x1B$B0!\x1B(B<p>"},
      // A lead byte whose error the page's escape gives is still open before
      // that escape: neither an insert nor the bytes after a delete may
      // become its trail.
      {"\x1B$B0!<\x1B(Ba", "a", false, "\xE4\xBA\x9C", "\x1B$B0!<\x1B$B0!\x1B(Ba"},
      {"\x1B$B<\x1B$B0!0\"", "\xE4\xBA\x9C", true, "", "\x1B$B<\x1B$B0\""},
  };
  for (const auto& c : cases) {
    CCommonPointers words;
    const auto base = reinterpret_cast<uintptr_t>(c.page.data());
    words[CCommonPointers::FirstByte] = base;
    words[CCommonPointers::HtmlBegin] = base;
    words[CCommonPointers::LastByte] = base + c.page.size() - 1;
    CDecodedPage decoded;
    ASSERT_TRUE(decoded.Decode(words, "ISO-2022-JP")) << c.page;
    const std::string_view text(reinterpret_cast<const char*>(decoded.Words()[CCommonPointers::FirstByte]),
                                decoded.Words()[CCommonPointers::LastByte] - decoded.Words()[CCommonPointers::FirstByte] + 1);
    std::string out;
    ASSERT_TRUE(decoded.EncodeEdited(CBufferInstructionList(), out));
    EXPECT_EQ(out, c.page);
    const size_t at = text.rfind(c.mark);
    ASSERT_NE(at, std::string::npos) << c.page;
    const ULONGLONG address = decoded.Words()[CCommonPointers::FirstByte] + at;
    CBufferInstructionList edits;
    if (!c.insert.empty()) {
      ASSERT_EQ(0u, CUtil::InsertHtmlStringAtPosition(address, c.insert.c_str(), &edits));
    }
    if (c.bReplace) {
      ASSERT_EQ(0u, CUtil::DeleteHtmlStringAtPosition(address, 3, &edits));
    }
    ASSERT_TRUE(decoded.EncodeEdited(edits, out)) << c.page;
    EXPECT_EQ(out, c.edited) << c.page;
  }
}

// Every single edit of a few ISO-2022-JP pages (each of an ASCII letter, a
// backslash, a kanji, a yen sign and a half-width katakana inserted, and each
// character deleted, at every place of the decoded text) either is refused
// or gives a page the browser decodes as the text with that edit: the
// writer's state is given back after the insert, a yen sign or a backslash
// is written in the run that reads it so, and a page with a NUL is never
// handed over (as a C string it would end there).
TEST(DecodedPage, EveryIso2022JpEditReadsAsTheEditedText) {
  const std::string pages[] = {
      "<p a=\"\x1B$B0!0\"\x1B(B\">x\x1B(J\\~a\x1B(I12\x1B(B</p>",
      "<b>\x1B$B0*\n0!<\x1B(Bz\x1B$@0!\x1B(J\x1B(B",
      "\x1B$B0\x1B(Xa\x1B$B0!\x1B(Ia\x1B(B<i>",
      std::string("a\0b\x1B$B0!\x1B(Bc", 12),
  };
  const std::string inserts[] = {"a", "\\", "\xE4\xBA\x9C", "\xC2\xA5", "\xEF\xBD\xB1"};
  size_t made = 0;
  size_t tried = 0;
  for (const std::string& page : pages) {
    CCommonPointers words;
    const auto base = reinterpret_cast<uintptr_t>(page.data());
    words[CCommonPointers::FirstByte] = base;
    words[CCommonPointers::HtmlBegin] = base;
    words[CCommonPointers::LastByte] = base + page.size() - 1;
    CDecodedPage decoded;
    ASSERT_TRUE(decoded.Decode(words, "ISO-2022-JP")) << page;
    const ULONGLONG first = decoded.Words()[CCommonPointers::FirstByte];
    // The whole page's text, read apart from the decoded page.
    const std::string text = CIso2022JpPage::DecodedText(page);
    const auto tryEdit = [&](size_t at, const std::string& insert, size_t deleted) {
      CBufferInstructionList edits;
      if (!insert.empty()) {
        ASSERT_EQ(0u, CUtil::InsertHtmlStringAtPosition(first + at, insert.c_str(), &edits));
      }
      if (deleted != 0) {
        ASSERT_EQ(0u, CUtil::DeleteHtmlStringAtPosition(first + at, static_cast<DWORD>(deleted), &edits));
      }
      ++tried;
      std::string out;
      if (!decoded.EncodeEdited(edits, out)) return;
      ++made;
      // The page is handed to the host as a C string: a NUL would cut it.
      EXPECT_EQ(out.find('\0'), std::string::npos) << page;
      const std::string expected = text.substr(0, at) + insert + text.substr(at + deleted);
      EXPECT_EQ(CIso2022JpPage::DecodedText(out), expected) << page << " at " << at << " +" << insert << " -" << deleted;
    };
    for (size_t at = 0; at <= text.size(); ++at) {
      if (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
      for (const std::string& insert : inserts) tryEdit(at, insert, 0);
      size_t length = 1;
      while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) ++length;
      if (at < text.size()) tryEdit(at, std::string(), length);
    }
  }
  EXPECT_GT(made * 4, tried * 3) << made << " of " << tried;
}

// The table of two-byte characters is built once, whichever request of a
// busy server reads the first ISO-2022-JP page.
TEST(DecodedPageConcurrent, TheFirstPagesShareOneTable) {
  std::vector<std::string> read(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < read.size(); ++t) {
    threads.emplace_back([&read, t] { read[t] = DecodedValue("ISO-2022-JP", "\x1B$B0!\x1B(B"); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& text : read) EXPECT_EQ(text, "\xE4\xBA\x9C");
}

TEST(PageEdits, InsertsBeforeDeletesNewestFirst) {
  CBufferInstructionList list;
  EXPECT_EQ(0u, CUtil::DeleteHtmlStringAtPosition(100, 5, &list));
  EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(100, "a", &list));
  EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(100, "b", &list));
  EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(50, "c", &list));
  const auto seen = Walk(list);
  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ(50u, seen[0].address);
  EXPECT_EQ("c", seen[0].text);
  EXPECT_EQ("b", seen[1].text);
  EXPECT_EQ("a", seen[2].text);
  EXPECT_EQ(1u, seen[3].type);
  EXPECT_EQ(100u, seen[3].address);
  EXPECT_EQ(5u, seen[3].length);
  // The walk backwards from the sentinel sees the same order reversed.
  EXPECT_EQ(list.End()->m_pPrev->m_spInstruction->m_dwType, 1u);
  EXPECT_EQ(list.End()->m_pPrev->m_pPrev->m_spInstruction->m_pszText, std::string("a"));
}

TEST(PageEdits, LaterDeleteAtOneAddressComesFirstAndHighAddressesSortUnsigned) {
  CBufferInstructionList list;
  CUtil::DeleteHtmlStringAtPosition(10, 1, &list);
  CUtil::DeleteHtmlStringAtPosition(10, 2, &list);
  CUtil::InsertHtmlStringAtPosition(0x8000000000000000ull, "hi", &list);
  CUtil::InsertHtmlStringAtPosition(11, "lo", &list);
  const auto seen = Walk(list);
  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ(2u, seen[0].length);
  EXPECT_EQ(1u, seen[1].length);
  EXPECT_EQ("lo", seen[2].text);
  EXPECT_EQ("hi", seen[3].text);
}

TEST(PageEdits, Refusals) {
  CBufferInstructionList list;
  EXPECT_EQ(13u, CUtil::InsertHtmlStringAtPosition(0, "x", &list));
  EXPECT_EQ(13u, CUtil::InsertHtmlStringAtPosition(5, nullptr, &list));
  EXPECT_EQ(13u, CUtil::InsertHtmlStringAtPosition(5, "x", nullptr));
  EXPECT_EQ(13u, CUtil::DeleteHtmlStringAtPosition(0, 3, &list));
  EXPECT_EQ(13u, CUtil::DeleteHtmlStringAtPosition(5, 3, nullptr));
  // A zero-length delete is dropped by the list, yet the caller sees success.
  EXPECT_EQ(0u, CUtil::DeleteHtmlStringAtPosition(5, 0, &list));
  EXPECT_TRUE(list.empty());
  // An empty insert is kept, with a text of its own.
  EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(5, "", &list));
  ASSERT_EQ(1u, list.size());
  const CBufferInstruction* i = list.First()->m_spInstruction.get();
  EXPECT_EQ(1u, i->m_bOwnsText);
  ASSERT_NE(nullptr, i->m_pszText);
  EXPECT_EQ('\0', i->m_pszText[0]);
}

TEST(PageEdits, InsertCopiesTheText) {
  CBufferInstructionList list;
  char text[] = "abc";
  CUtil::InsertHtmlStringAtPosition(7, text, &list);
  text[0] = 'z';
  EXPECT_STREQ("abc", list.First()->m_spInstruction->m_pszText);
}

// ---- send raw data with a stand-in form ----

struct FormScript {
  enum Action { Edit, EditThenThrowRuntime, EditThenThrowOther, NothingReplace, Nothing, Fail } action = Edit;
  int destroyed = 0;
  int contextsSeen = 0;
};
FormScript* g_script = nullptr;

class TestForm : public CPLForm {
 public:
  explicit TestForm(CCountedPtr<CHXFormContext> spContext)
      : CPLForm(spContext.get()), m_spContext(std::move(spContext)) {}
  ~TestForm() override { ++g_script->destroyed; }
  DWORD Process() override {
    CDLLContext* ctx = m_spContext->GetDLLContext();
    CBufferInstructionList* list = m_spContext->GetBufferInstructions();
    switch (g_script->action) {
      case FormScript::Edit:
        CUtil::InsertHtmlStringAtPosition(0x1000, "<b>", list);
        CUtil::DeleteHtmlStringAtPosition(0x1004, 2, list);
        return 0;
      case FormScript::EditThenThrowRuntime:
        CUtil::InsertHtmlStringAtPosition(0x1000, "<b>", list);
        throw CHXFormException("page has no body");
      case FormScript::EditThenThrowOther:
        CUtil::InsertHtmlStringAtPosition(0x1000, "<b>", list);
        throw 42;
      case FormScript::NothingReplace:
        ctx->m_dwControlMessage = ControlMessageReplace;
        return 0;
      case FormScript::Nothing:
        return 0;
      case FormScript::Fail:
        return 5;
    }
    return 0;
  }

 private:
  CCountedPtr<CHXFormContext> m_spContext;
};

CPLForm* CreateTestForm(const CCountedPtr<CHXFormContext>& spContext) {
  ++g_script->contextsSeen;
  return new TestForm(spContext);
}
CPLForm* CreateNoForm(const CCountedPtr<CHXFormContext>&) { return nullptr; }

struct Submitted {
  int calls = 0;
  std::vector<Seen> seen;
  DWORD answer = 0;
};
Submitted* g_submitted = nullptr;

DWORD FakeSubmit(CDLLContext*, CBufferInstructionList* list) {
  ++g_submitted->calls;
  g_submitted->seen = Walk(*list);
  return g_submitted->answer;
}

class SendRawData : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script = &m_script;
    g_submitted = &m_submitted;
    m_services.SubmitBufferCommands = &FakeSubmit;
    m_ctx.m_dwNotificationType = 0x400;
    m_ctx.m_pCoreServices = &m_services;
    m_ctx.m_spOutboundContext = CCountedPtr<COutboundContext>(new COutboundContext());
    // The form context reads the page it is built over.
    m_words[CCommonPointers::FirstByte] = reinterpret_cast<uintptr_t>(m_page.data());
    m_words[CCommonPointers::LastByte] = reinterpret_cast<uintptr_t>(m_page.data() + m_page.size() - 1);
    m_words[CCommonPointers::HtmlBegin] = reinterpret_cast<uintptr_t>(m_page.data() + m_page.find("<html>"));
    m_words[CCommonPointers::CharSetText] = reinterpret_cast<uintptr_t>(m_page.data() + m_page.find("text/html"));
    m_words[CCommonPointers::CharSetTextLength] = 9;
    m_ctx.m_spOutboundContext->m_pCommonPointers = &m_words;
  }
  void TearDown() override {
    g_script = nullptr;
    g_submitted = nullptr;
  }

  FormScript m_script;
  Submitted m_submitted;
  CCoreServices m_services;
  std::string m_page = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>page</body></html>";
  CCommonPointers m_words;
  CDLLContext m_ctx;
};

TEST_F(SendRawData, EditsAreSubmittedInOrder) {
  EXPECT_EQ(0u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(1, m_submitted.calls);
  // The form's edits, then the Content-Type's: it names the set the page
  // was walked in.
  ASSERT_EQ(4u, m_submitted.seen.size());
  EXPECT_EQ("<b>", m_submitted.seen[0].text);
  EXPECT_EQ("text/html; charset=UTF-8", m_submitted.seen[2].text);
  EXPECT_EQ(9u, m_submitted.seen[3].length);
  EXPECT_EQ(ControlMessageNone, m_ctx.m_dwControlMessage);
  EXPECT_EQ(1, m_script.destroyed);
}

TEST_F(SendRawData, HostRefusalIgnores) {
  m_submitted.answer = 5;
  EXPECT_EQ(5u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);
  // No submit entry at all counts as sent.
  m_services.SubmitBufferCommands = nullptr;
  m_ctx.m_dwControlMessage = ControlMessageNone;
  EXPECT_EQ(0u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageNone, m_ctx.m_dwControlMessage);
}

TEST_F(SendRawData, ExceptionsFailWithoutSubmittingAndReleaseTheForm) {
  for (auto action : {FormScript::EditThenThrowRuntime, FormScript::EditThenThrowOther}) {
    m_script.action = action;
    m_script.destroyed = 0;
    m_ctx.m_dwControlMessage = ControlMessageNone;
    EXPECT_EQ(13u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
    EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);
    EXPECT_EQ(0, m_submitted.calls);
    EXPECT_EQ(1, m_script.destroyed);
  }
}

TEST_F(SendRawData, NoFormOrNoEditsOrFailedForm) {
  EXPECT_EQ(13u, SendRawDataWithForms(&m_ctx, &CreateNoForm));
  EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);

  m_script.action = FormScript::Nothing;
  m_ctx.m_dwControlMessage = ControlMessageNone;
  EXPECT_EQ(13u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);

  m_script.action = FormScript::NothingReplace;
  m_ctx.m_dwControlMessage = ControlMessageNone;
  EXPECT_EQ(0u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageReplace, m_ctx.m_dwControlMessage);

  m_script.action = FormScript::Fail;
  m_ctx.m_dwControlMessage = ControlMessageNone;
  EXPECT_EQ(5u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);
  EXPECT_EQ(0, m_submitted.calls);
}

TEST_F(SendRawData, MissingRecordOrResponse) {
  EXPECT_EQ(13u, SendRawDataWithForms(nullptr, &CreateTestForm));
  EXPECT_EQ(0, m_script.contextsSeen);
  // Without an outbound response the form context refuses to be built.
  m_ctx.m_spOutboundContext = CCountedPtr<COutboundContext>();
  EXPECT_EQ(13u, SendRawDataWithForms(&m_ctx, &CreateTestForm));
  EXPECT_EQ(ControlMessageIgnore, m_ctx.m_dwControlMessage);
  EXPECT_EQ(0, m_script.contextsSeen);
  EXPECT_EQ(0, m_submitted.calls);
}

}  // namespace
