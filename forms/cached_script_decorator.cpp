// The cached-script prefix of a request, split after its fifth character.
#include "forms/cached_script_decorator.h"

#include <new>

namespace {
constexpr size_t kHeadLength = 5;
}

std::string CCachedScriptDecorator::Undecorate(const std::string& sName) const {
  return sName.size() > m_sHead.size() ? sName.substr(m_sHead.size()) : sName;
}

bool CCachedScriptDecorator::IsDecorated(const std::string& sName) const {
  return sName.size() > m_sHead.size() && sName.find(m_sTail, m_sHead.size()) == m_sHead.size();
}

CCachedScriptDecorator* CreateCachedScriptDecorator(const std::string& sPrefix) {
  if (sPrefix.size() < kHeadLength) return nullptr;
  return new (std::nothrow) CCachedScriptDecorator(sPrefix.substr(0, kHeadLength), sPrefix.substr(kHeadLength));
}
