// The form framework's exception; the request pipeline catches it as a
// std::runtime_error.
#pragma once

#include <stdexcept>
#include <string>

class CHXFormException : public std::runtime_error {
 public:
  explicit CHXFormException(const std::string& what) : std::runtime_error(what) {}
  explicit CHXFormException(const char* what) : std::runtime_error(what) {}
};
