// Pages that would exhaust the stack of a parser that recursed once per tag
// or per nesting level: 100,000 comments, 100,000 nested elements. The work
// runs on a thread with a small stack, so a recursion would fail here long
// before it could on a request thread.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "dom_test_util.h"
#include "html/element.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

void RunWithSmallStack(const std::function<void()>& fn, size_t nStackSize = 512 * 1024) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, nStackSize), 0);
  pthread_t thread;
  auto trampoline = [](void* p) -> void* {
    (*static_cast<const std::function<void()>*>(p))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&fn)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

constexpr int kDeep = 100000;

}  // namespace

TEST(DeepPages, HundredThousandComments) {
  const std::string sHtml = "<html><body>" + Repeat("<!-- c <b> -->", kDeep) + "<p id=last>x</p></body></html>";
  RunWithSmallStack([&] {
    // Searches without a full parse: whether the last paragraph lies inside
    // a comment depends on every comment before it.
    Page page(sHtml);
    CTag* pTag = CTag::getTagAt(page.src(), page.pos("<p id"));
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(ToStd(pTag->getName()), "p");
    EXPECT_EQ(CTag::getTagAt(page.src(), page.pos("<b>", kDeep - 1)), nullptr);
    CStartTag* pBack = page.src()->findPreviousStartTag(page.src()->getEnd());
    ASSERT_NE(pBack, nullptr);
    EXPECT_EQ(ToStd(pBack->getName()), "p");
    CElement* pLast = page.src()->getElementById(ci_string("last"));
    ASSERT_NE(pLast, nullptr);
    EXPECT_EQ(pLast->getBegin(), page.pos("<p id"));

    // The full parse of the same bytes.
    Page full(sHtml);
    const std::vector<CTag*>& tags = full.src()->fullSequentialParse();
    EXPECT_EQ(tags.size(), static_cast<size_t>(kDeep) + 6);
  });
}

TEST(DeepPages, HundredThousandNestedElements) {
  const std::string sHtml = Repeat("<div>", kDeep) + "core" + Repeat("</div>", kDeep);
  RunWithSmallStack([&] {
    Page page(sHtml);
    CStartTag* pOuter = page.src()->findNextStartTag(0);
    ASSERT_NE(pOuter, nullptr);
    CElement* pElement = pOuter->getElement();
    ASSERT_NE(pElement, nullptr);
    EXPECT_EQ(pElement->getEnd(), page.src()->getEnd());
    CElement* pInner = page.src()->getEnclosingElement(page.pos("core"));
    ASSERT_NE(pInner, nullptr);
    EXPECT_EQ(pInner->getContentBegin(), page.pos("core"));
    EXPECT_EQ(page.src()->fullSequentialParse().size(), static_cast<size_t>(2 * kDeep));
  });
}

TEST(DeepPages, HundredThousandNestedOptionalEndTags) {
  // html steps over whole html elements: each level's walk waits for the
  // level inside it.
  const std::string sHtml = Repeat("<html>", kDeep) + "x";
  RunWithSmallStack([&] {
    Page page(sHtml);
    CStartTag* pOuter = page.src()->findNextStartTag(0);
    ASSERT_NE(pOuter, nullptr);
    CElement* pElement = pOuter->getElement();
    ASSERT_NE(pElement, nullptr);
    EXPECT_EQ(pElement->getEnd(), page.src()->getEnd());
    EXPECT_EQ(pElement->getEndTag(), nullptr);
  });
}

TEST(DeepPages, DeepElementTree) {
  // 100,000 nested elements, two names taking turns.
  constexpr int kLevels = kDeep / 2;
  const std::string sHtml = Repeat("<div><span>", kLevels) + "core" + Repeat("</span></div>", kLevels);
  RunWithSmallStack(
      [&] {
        Page page(sHtml);
        const std::vector<CElement*>& top = page.src()->getChildElements();
        ASSERT_EQ(top.size(), 1u);
        int nDepth = 0;
        const CElement* pElement = top[0];
        while (pElement != nullptr) {
          ++nDepth;
          EXPECT_TRUE(pElement->isParentKnown());
          const std::vector<CElement*>& children = const_cast<CElement*>(pElement)->getChildElements();
          ASSERT_LE(children.size(), 1u);
          if (!children.empty()) {
            EXPECT_EQ(children[0]->getParentElement(), pElement);
          }
          pElement = children.empty() ? nullptr : children[0];
        }
        EXPECT_EQ(nDepth, 2 * kLevels);
      },
      256 * 1024);
}

TEST(DeepPages, DomQueriesOnHundredThousandNestedElements) {
  const std::string sHtml = "<html><body>" + Repeat("<div>", kDeep) + "<span id=core>x</span><b>y</b>" +
                            Repeat("</div>", kDeep) + "</body></html>";
  RunWithSmallStack([&] {
    hxtest::Response response(sHtml);
    CDOMSource dom(&response.record);
    CDOMElement core = dom.getElementById("core");
    ASSERT_FALSE(core.isUndefined());
    // The parent is known once the page's element tree is built.
    CDOMElement parent = core.parentNode();
    ASSERT_FALSE(parent.isUndefined());
    EXPECT_EQ(parent.getContentBeginPos(), response.pos("<span id=core>"));
    CDOMElement next = core.nextSibling();
    ASSERT_FALSE(next.isUndefined());
    EXPECT_EQ(ToStd(next.tagName()), "b");
    EXPECT_EQ(dom.getBody().getElementsByTagName("div").length(), static_cast<size_t>(kDeep));
    CDOMElement enclosing = dom.getEnclosingElement(response.pos("y</b>"));
    EXPECT_EQ(ToStd(enclosing.tagName()), "b");
    CBufferInstructionList list;
    EXPECT_EQ(core.remove(&list), 0u);
    EXPECT_EQ(response.Apply(list).find("core"), std::string::npos);
  });
}
