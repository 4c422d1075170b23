// Picks the page form for a response by the page template, the client
// experience, the request flags and the subscription type. The choice is a
// constant table of rows (forms/pl_form_factory.cpp), the first matching row
// deciding.
#pragma once

#include <new>

#include "common/counted_ptr.h"

class CHXFormContext;
class CPLForm;

// Makes the form of one row; null when it cannot be allocated.
using PLFormCreator = CPLForm* (*)(CHXFormContext* pFormContext);

// Creators for the rows: forms without virtual bases take the context, forms
// with them also the build-virtual-bases flag.
template <class TForm>
CPLForm* MakeForm(CHXFormContext* pFormContext) {
  return new (std::nothrow) TForm(pFormContext);
}
template <class TForm>
CPLForm* MakeFormWithVirtualBases(CHXFormContext* pFormContext) {
  return new (std::nothrow) TForm(pFormContext, 1);
}

class CPLFormFactory {
 public:
  // A new, valid form for the page (the caller owns it), or null when the
  // page needs none or the context is incomplete.
  static CPLForm* createForm(CHXFormContext* pFormContext);
  static CPLForm* createForm(const CCountedPtr<CHXFormContext>& spFormContext) {
    return createForm(spFormContext.get());
  }
};
