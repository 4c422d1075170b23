// What every page form offers the request pipeline.
#pragma once

#include "platform/win_types.h"

class CPLForm {
 public:
  virtual ~CPLForm() = default;
  // Reads the page and records its edits in the form context's instruction
  // list (or writes a whole replacement response). 0 on success.
  virtual DWORD Process() = 0;
};
