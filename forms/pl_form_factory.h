// Picks the page form for a response.
#pragma once

#include "common/counted_ptr.h"

class CHXFormContext;
class CPLForm;

class CPLFormFactory {
 public:
  // A new form for the page (the caller owns it), or null when the page needs
  // none.
  static CPLForm* createForm(const CCountedPtr<CHXFormContext>& spFormContext);
};
