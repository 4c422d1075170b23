// Every reading of a page a browser may take, read on together.
#include <cstddef>
#include <utility>

#include "html/tokenizer_states.h"

CPageReadings::CPageReadings(std::string_view text) : m_text(text) {
  m_readers.emplace_back();
  m_readers.front().SplitInto(&m_splits);
}

// Reads every part on to the first tag the first one ends (or to `to`);
// true when every part ended that tag there.
bool CPageReadings::Step(size_t to) {
  size_t next = m_at;
  const bool bTag = m_readers.front().ReadUntilTag(m_text, next, to);
  for (size_t k = 1; k < m_readers.size(); ++k) {
    size_t at = m_at;
    while (at < next) m_readers[k].ReadUntilTag(m_text, at, next);
  }
  // A part split off reads on from the tag that split it. Parts beyond
  // those followed give up before they are read: each would read the span
  // again, and a span of raw text in one reading may hold a split for each
  // of its tags in another.
  while (!m_splits.empty()) {
    if (m_readers.size() + m_splits.size() > kMaxParts) {
      m_splits.clear();
      GiveUp();
      m_at = next;
      return false;
    }
    CTokenizerStates part = std::move(m_splits.back());
    m_splits.pop_back();
    size_t at = part.LastTagEnd();
    while (at < next) part.ReadUntilTag(m_text, at, next);
    m_readers.push_back(std::move(part));
  }
  m_at = next;
  bool bAll = bTag;
  const CTokenizerStates::Tag& tag = m_readers.front().LastTag();
  for (size_t k = 1; k < m_readers.size() && bAll; ++k) {
    const CTokenizerStates::Tag& other = m_readers[k].LastTag();
    bAll = m_readers[k].LastTagEnd() == next && other.begin == tag.begin && other.bEnd == tag.bEnd &&
           other.name == tag.name;
  }
  Merge();
  return bAll;
}

void CPageReadings::Merge() {
  for (size_t i = 0; i < m_readers.size(); ++i) {
    for (size_t j = m_readers.size(); j > i + 1; --j) {
      if (!m_readers[i].SameAs(m_readers[j - 1])) continue;
      m_readers[i].AddReadings(m_readers[j - 1].Readings());
      m_readers.erase(m_readers.begin() + static_cast<std::ptrdiff_t>(j - 1));
    }
  }
  if (m_readers.size() > kMaxParts) GiveUp();
}

// Too many parts to follow: every reading gives up alike.
void CPageReadings::GiveUp() {
  m_readers.resize(1);
  m_readers.front().GiveUp();
  m_readers.front().AddReadings(CTokenizerStates::kEveryReading);
}

void CPageReadings::ReadTo(size_t to) {
  if (to > m_text.size()) to = m_text.size();
  while (m_at < to) {
    if (m_readers.size() > 1) {
      Step(to);
      continue;
    }
    // One reading while they agree, read at its own pace up to a split.
    m_readers.front().ReadUntilSplit(m_text, m_at, to);
    while (!m_splits.empty()) {
      m_readers.push_back(std::move(m_splits.back()));
      m_splits.pop_back();
    }
  }
  if (m_readers.size() > 1) Merge();
}

bool CPageReadings::NextTag() {
  while (m_at < m_text.size()) {
    if (Step(m_text.size())) return true;
  }
  return false;
}
