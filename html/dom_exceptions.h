// The DOM's exceptions: misuse of an undefined wrapper and illegal edit
// arguments. Thrown by value; a handler for CDOMParserException catches both.
#pragma once

#include <cstdint>
#include <string>

class CDOMParserException {
 public:
  CDOMParserException(std::string strMessage, int64_t nPos) : m_strMessage(std::move(strMessage)), m_nPos(nPos) {}
  virtual ~CDOMParserException() = default;

  std::string m_strMessage;
  int64_t m_nPos;
};

class CDOMParserUndefinedObjectException : public CDOMParserException {
 public:
  explicit CDOMParserUndefinedObjectException(const std::string& strDetail)
      : CDOMParserException("Undefined DOM object.[" + strDetail + "]", -1) {}
};

class CDOMParserIllegalArgumentException : public CDOMParserException {
 public:
  CDOMParserIllegalArgumentException(const std::string& strDetail, int64_t nPos)
      : CDOMParserException("Illegal argument.[" + strDetail + "]", nPos) {}
};
