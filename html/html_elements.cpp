#include "html/html_elements.h"

#include <bit>
#include <cstring>

#include "common/static_memory.h"

namespace {

const char* const kElementNames[] = {
    "a",        "abbr",     "acronym",  "address",  "applet", "area",   "b",        "base",     "basefont",
    "bdo",      "big",      "blockquote", "body",   "br",     "button", "caption",  "center",   "cite",
    "code",     "col",      "colgroup", "dd",       "del",    "dfn",    "dir",      "div",      "dl",
    "dt",       "em",       "fieldset", "font",     "form",   "frame",  "frameset", "h1",       "h2",
    "h3",       "h4",       "h5",       "h6",       "head",   "hr",     "html",     "i",        "iframe",
    "img",      "input",    "ins",      "isindex",  "kbd",    "label",  "legend",   "li",       "link",
    "map",      "menu",     "meta",     "noframes", "noscript", "object", "ol",     "optgroup", "option",
    "p",        "param",    "pre",      "q",        "s",      "samp",   "script",   "select",   "small",
    "span",     "strike",   "strong",   "style",    "sub",    "sup",    "table",    "tbody",    "td",
    "textarea", "tfoot",    "th",       "thead",    "title",  "tr",     "tt",       "u",        "ul",
    "var"};
constexpr size_t kElementCount = sizeof(kElementNames) / sizeof(kElementNames[0]);
static_assert(kElementCount == 91);

// Element indexes by name, for the constant lists below.
enum : uint64_t {
  A = 0, ADDRESS = 3, APPLET = 4, AREA = 5, BASE = 7, BASEFONT = 8, BLOCKQUOTE = 11, BODY = 12, BR = 13,
  BUTTON = 14, CAPTION = 15, CENTER = 16, COL = 19, COLGROUP = 20, DD = 21, DIR = 24, DIV = 25, DL = 26, DT = 27,
  FIELDSET = 29, FORM = 31, FRAME = 32, FRAMESET = 33, H1 = 34, H2 = 35, H3 = 36, H4 = 37, H5 = 38, H6 = 39,
  HEAD = 40, HR = 41, HTML = 42, IFRAME = 44, IMG = 45, INPUT = 46, ISINDEX = 48, LABEL = 50, LEGEND = 51, LI = 52,
  LINK = 53, MENU = 55, META = 56, NOFRAMES = 57, NOSCRIPT = 58, OL = 60, OPTGROUP = 61, OPTION = 62, P = 63,
  PARAM = 64, PRE = 65, SCRIPT = 69, SELECT = 70, STYLE = 75, TABLE = 78, TBODY = 79, TD = 80, TEXTAREA = 81,
  TFOOT = 82, TH = 83, THEAD = 84, TITLE = 85, TR = 86, UL = 89
};

CHTMLElementSet MakeSet(std::initializer_list<uint64_t> members) {
  CHTMLElementSet set;
  for (uint64_t n : members) set.add(n);
  return set;
}

CHTMLElementSet Union(const CHTMLElementSet& a, const CHTMLElementSet& b) {
  CHTMLElementSet set(a);
  set.unite(b);
  return set;
}

}  // namespace

// ---------------------------------------------------------------------------

CHTMLElementNameSingletonData::CHTMLElementNameSingletonData() {
  m_vecNames.reserve(100);
  for (const char* pName : kElementNames) m_vecNames.emplace_back(pName);
  for (size_t i = 0; i < m_vecNames.size(); ++i) {
    m_mapNameIndex.emplace(ci_string(m_vecNames[i].c_str()), static_cast<int64_t>(i));
    uint64_t nLow = 0;
    uint64_t nHigh = 0;
    PackName(m_vecNames[i].data(), m_vecNames[i].size(), &nLow, &nHigh);
    size_t nSlot = SlotOf(nLow, nHigh);
    while (m_aSlots[nSlot].nIndex >= 0) nSlot = (nSlot + 1) % kSlotCount;
    m_aSlots[nSlot] = CNameSlot{nLow, nHigh, static_cast<int64_t>(i)};
  }
}

bool CHTMLElementNameSingletonData::PackName(const char* pName, size_t nLength, uint64_t* pnLow, uint64_t* pnHigh) {
  // Every element name has 1 to 10 bytes; anything else cannot be one. The
  // words are built in registers: bytes stored one by one and read back as a
  // word would stall the load.
  if (nLength == 0 || nLength > 10) return false;
  uint64_t nLow = 0;
  uint64_t nHigh = static_cast<uint64_t>(nLength) << 56;
  const size_t nFirst = nLength < 8 ? nLength : 8;
  for (size_t i = 0; i < nFirst; ++i) nLow |= static_cast<uint64_t>(ci_char_traits::lower(pName[i])) << (8 * i);
  for (size_t i = 8; i < nLength; ++i) nHigh |= static_cast<uint64_t>(ci_char_traits::lower(pName[i])) << (8 * (i - 8));
  *pnLow = nLow;
  *pnHigh = nHigh;
  return true;
}

CHTMLElementNameSingletonData::~CHTMLElementNameSingletonData() = default;

CHTMLElementNameSingletonData* CHTMLElementNameSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CHTMLElementNameSingletonData>::instance();
}

int64_t CHTMLElementNameSingletonData::getIndex(const char* pName, size_t nLength) const {
  uint64_t nLow = 0;
  uint64_t nHigh = 0;
  if (!PackName(pName, nLength, &nLow, &nHigh)) return -1;
  return lookUp(nLow, nHigh);
}

namespace {

// The bytes A-Z of a word turned to a-z, every other byte kept: per byte,
// the high bit of (b & 0x7f) + 0x3f is set from 'A' on, that of
// (b & 0x7f) + 0x25 from '[' on; bytes with the high bit set are kept.
inline uint64_t LowerWord(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  const uint64_t t = w & (0x7f * kOnes);
  const uint64_t nFromA = t + 0x3f * kOnes;
  const uint64_t nFromBracket = t + 0x25 * kOnes;
  const uint64_t nUpper = nFromA & ~nFromBracket & ~w & (0x80 * kOnes);
  return w | (nUpper >> 2);
}

inline uint64_t LoadWord(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof(w));
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

}  // namespace

int64_t CHTMLElementNameSingletonData::getElementIndexInBuffer(const char* pName, size_t nLength,
                                                                const char* pReadableEnd) {
  CHTMLElementNameSingletonData* pData = getInstance();
  if (nLength == 0 || nLength > 10) return -1;
  if (pReadableEnd - pName < 16) return pData->getIndex(pName, nLength);
  const uint64_t nLowMask = nLength >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * nLength)) - 1;
  const uint64_t nLow = LowerWord(LoadWord(pName) & nLowMask);
  uint64_t nHigh = static_cast<uint64_t>(nLength) << 56;
  if (nLength > 8) nHigh |= LowerWord(LoadWord(pName + 8) & ((uint64_t{1} << (8 * (nLength - 8))) - 1));
  return pData->lookUp(nLow, nHigh);
}

int64_t CHTMLElementNameSingletonData::lookUp(uint64_t nLow, uint64_t nHigh) const {
  for (size_t nSlot = SlotOf(nLow, nHigh);; nSlot = (nSlot + 1) % kSlotCount) {
    const CNameSlot& slot = m_aSlots[nSlot];
    if (slot.nIndex < 0) return -1;
    if (slot.nLow == nLow && slot.nHigh == nHigh) return slot.nIndex;
  }
}

int64_t CHTMLElementNameSingletonData::getElementIndex(const ci_string& csName) {
  return getInstance()->getIndex(csName);
}

const std::string* CHTMLElementNameSingletonData::getElementName(int64_t nIndex) {
  CHTMLElementNameSingletonData* pData = getInstance();
  if (static_cast<uint64_t>(nIndex) >= pData->m_vecNames.size()) return nullptr;
  return &pData->m_vecNames[static_cast<size_t>(nIndex)];
}

// ---------------------------------------------------------------------------

CHTMLElementSet::CHTMLElementSet() : m_nWordCount(4), m_pWords(new uint32_t[4]()) {}

CHTMLElementSet::CHTMLElementSet(uint64_t nIndex) : CHTMLElementSet() { add(nIndex); }

CHTMLElementSet::CHTMLElementSet(const CHTMLElementSet& other)
    : m_nWordCount(other.m_nWordCount), m_pWords(new uint32_t[other.m_nWordCount]) {
  std::memcpy(m_pWords, other.m_pWords, m_nWordCount * sizeof(uint32_t));
}

CHTMLElementSet& CHTMLElementSet::operator=(const CHTMLElementSet& other) {
  if (this != &other) {
    auto* pWords = new uint32_t[other.m_nWordCount];
    std::memcpy(pWords, other.m_pWords, other.m_nWordCount * sizeof(uint32_t));
    delete[] m_pWords;
    m_pWords = pWords;
    m_nWordCount = other.m_nWordCount;
  }
  return *this;
}

CHTMLElementSet::~CHTMLElementSet() { delete[] m_pWords; }

void CHTMLElementSet::grow(uint64_t nWords) {
  auto* pWords = new uint32_t[nWords]();
  std::memcpy(pWords, m_pWords, m_nWordCount * sizeof(uint32_t));
  delete[] m_pWords;
  m_pWords = pWords;
  m_nWordCount = nWords;
}

void CHTMLElementSet::add(uint64_t nIndex) {
  if (nIndex == ~static_cast<uint64_t>(0)) return;
  const uint64_t w = nIndex / 32;
  if (w >= m_nWordCount) grow(w + 1 > 8 ? w + 1 : 8);
  m_pWords[w] |= 1u << (nIndex % 32);
}

void CHTMLElementSet::unite(const CHTMLElementSet& other) {
  if (m_nWordCount < other.m_nWordCount) grow(other.m_nWordCount > 8 ? other.m_nWordCount : 8);
  for (uint64_t i = 0; i < other.m_nWordCount; ++i) m_pWords[i] |= other.m_pWords[i];
}

void CHTMLElementSet::subtract(const CHTMLElementSet& other) {
  const uint64_t n = m_nWordCount < other.m_nWordCount ? m_nWordCount : other.m_nWordCount;
  for (uint64_t i = 0; i < n; ++i) m_pWords[i] &= ~other.m_pWords[i];
}

size_t CHTMLElementSet::count() const {
  size_t n = 0;
  for (uint64_t i = 0; i < m_nWordCount; ++i) n += static_cast<size_t>(std::popcount(m_pWords[i]));
  return n;
}

// ---------------------------------------------------------------------------

CHTMLElementsSingletonData::CHTMLElementsSingletonData() {
  for (uint64_t i = 0; i < kElementCount; ++i) m_AllElements.add(i);
  m_BlockElements = MakeSet({P, H1, H2, H3, H4, H5, H6, UL, OL, DIR, MENU, PRE, DL, DIV, CENTER, NOSCRIPT, NOFRAMES,
                             BLOCKQUOTE, FORM, ISINDEX, HR, TABLE, FIELDSET, ADDRESS});
  m_EndTagForbiddenElements =
      MakeSet({AREA, BASE, BASEFONT, BR, COL, FRAME, HR, IMG, INPUT, ISINDEX, LINK, META, PARAM});
  m_ListElements = MakeSet({OL, UL});
  m_DefinitionElements = MakeSet({DD, DT});
  m_TableSections = MakeSet({TBODY, TFOOT, THEAD, TR});
  m_TableSectionsAndCells = m_TableSections;
  m_TableSectionsAndCells.add(TD);
  m_TableSectionsAndCells.add(TH);
  m_NotNestableElements = MakeSet({A, ADDRESS, APPLET, BUTTON, CAPTION, FORM, IFRAME, LABEL, LEGEND, OPTGROUP, SCRIPT,
                                   SELECT, STYLE, TEXTAREA, TITLE});

  auto rule = [this](uint64_t nElement, CHTMLElementSet endingStart, CHTMLElementSet endingEnd,
                     CHTMLElementSet steppedOver) {
    CEndTagRule& r = m_mapEndTagRules[nElement];
    r.m_EndingStartTags = endingStart;
    r.m_EndingEndTags = endingEnd;
    r.m_SteppedOverElements = steppedOver;
  };
  rule(BODY, CHTMLElementSet(), MakeSet({BODY, HTML}), MakeSet({HTML}));
  rule(COLGROUP, MakeSet({COLGROUP, TBODY, TFOOT, THEAD, TR}), MakeSet({COLGROUP, TABLE}), MakeSet({TABLE}));
  rule(DD, m_DefinitionElements, MakeSet({DD, DL}), MakeSet({DL}));
  rule(DT, m_DefinitionElements, MakeSet({DL, DT}), MakeSet({DL}));
  rule(HEAD, MakeSet({BODY, FRAMESET}), MakeSet({HEAD, HTML}), CHTMLElementSet());
  rule(HTML, CHTMLElementSet(), MakeSet({HTML}), MakeSet({HTML}));
  rule(LI, MakeSet({LI}), Union(MakeSet({LI}), m_ListElements), m_ListElements);
  rule(OPTION, MakeSet({OPTGROUP, OPTION}), MakeSet({OPTION, SELECT}), CHTMLElementSet());
  rule(P, Union(m_BlockElements, MakeSet({DD, DT, LI, TD, TH})),
       Union(m_BlockElements, MakeSet({BODY, CAPTION, DD, DT, HTML, LEGEND, TBODY, TD, TFOOT, TH, THEAD, TR})),
       CHTMLElementSet());
  rule(TBODY, MakeSet({TBODY, TFOOT, THEAD}), MakeSet({TABLE, TBODY}), MakeSet({TABLE}));
  rule(TD, m_TableSectionsAndCells, MakeSet({TABLE, TBODY, TD, TFOOT, THEAD, TR}), MakeSet({TABLE}));
  rule(TFOOT, MakeSet({TBODY, TFOOT, THEAD}), MakeSet({TABLE, TFOOT}), MakeSet({TABLE}));
  rule(TH, m_TableSectionsAndCells, MakeSet({TABLE, TBODY, TFOOT, TH, THEAD, TR}), MakeSet({TABLE}));
  rule(THEAD, MakeSet({TBODY, TFOOT, THEAD}), MakeSet({TABLE, THEAD}), MakeSet({TABLE}));
  rule(TR, m_TableSections, MakeSet({TABLE, TBODY, TFOOT, THEAD, TR}), MakeSet({TABLE}));

  for (const auto& entry : m_mapEndTagRules) m_EndTagOptionalElements.add(entry.first);
  m_EndTagRequiredElements = m_AllElements;
  m_EndTagRequiredElements.subtract(m_EndTagForbiddenElements);
  m_EndTagRequiredElements.subtract(m_EndTagOptionalElements);
  m_HasEndTagElements = m_EndTagOptionalElements;
  m_HasEndTagElements.unite(m_EndTagRequiredElements);
}

CHTMLElementsSingletonData::~CHTMLElementsSingletonData() = default;

CHTMLElementsSingletonData* CHTMLElementsSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CHTMLElementsSingletonData>::instance();
}

const CEndTagRule* CHTMLElementsSingletonData::getEndTagRule(int64_t nIndex) {
  if (nIndex < 0) return nullptr;
  const auto& rules = getInstance()->m_mapEndTagRules;
  auto it = rules.find(static_cast<uint64_t>(nIndex));
  return it == rules.end() ? nullptr : &it->second;
}

const CHTMLElementSet& CHTMLElementsSingletonData::getEndTagRequiredElements() {
  return getInstance()->m_EndTagRequiredElements;
}

const CHTMLElementSet& CHTMLElementsSingletonData::getNotNestableElements() {
  return getInstance()->m_NotNestableElements;
}
