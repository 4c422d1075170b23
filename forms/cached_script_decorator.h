// The mail client's cached-script prefix that the request carries: its first
// five characters (head) and the rest (tail). Script names are decorated by
// putting the prefix in front of them.
#pragma once

#include <string>

class CCachedScriptDecorator {
 public:
  CCachedScriptDecorator(std::string sHead, std::string sTail) : m_sHead(std::move(sHead)), m_sTail(std::move(sTail)) {}
  virtual ~CCachedScriptDecorator() = default;

  virtual std::string GetHead() const { return m_sHead; }
  virtual std::string GetTail() const { return m_sTail; }
  virtual std::string GetPrefix() const { return m_sHead + m_sTail; }
  virtual std::string Decorate(const std::string& sName) const { return m_sHead + m_sTail + sName; }
  // Drops as many leading characters as the head has, without comparing them.
  virtual std::string Undecorate(const std::string& sName) const;
  // The name is longer than the head and the tail follows right after it.
  virtual bool IsDecorated(const std::string& sName) const;

 private:
  std::string m_sHead;
  std::string m_sTail;
};

// Null for a prefix shorter than five characters.
CCachedScriptDecorator* CreateCachedScriptDecorator(const std::string& sPrefix);
