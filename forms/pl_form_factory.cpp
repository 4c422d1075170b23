#include "forms/pl_form_factory.h"

#include "forms/hx_form_context.h"
#include "forms/pl_form.h"

// No page form is known yet: every page goes out as the server sent it.
CPLForm* CPLFormFactory::createForm(const CCountedPtr<CHXFormContext>& spFormContext) {
  if (!spFormContext) return nullptr;
  return nullptr;
}
