// The rows of the page-form choice: which form for which page template,
// client experience and request flags. The first matching row decides.
#pragma once

#include "forms/pl_form_factory.h"
#include "platform/win_types.h"

class CHXFormContext;

constexpr DWORD kAnyExperience = 0xFFFFFFFF;

// One row of the choice: the first row whose conditions all hold decides.
// A row without a class name means "no form"; a row whose form is not built
// into this module has a class name but no creator, and also gives no form.
struct PLFormRow {
  DWORD dwExperience;              // OwaExperience value, or kAnyExperience
  bool bReadPageSubscription;      // the record's subscription type is 30
  const char* const* ppTemplates;  // null-terminated; one must be part of the template name
  DWORD dwFlagsSet;                // RequestFlags bits that must be set
  DWORD dwFlagsClear;              // RequestFlags bits that must be clear
  const char* pClassName;
  PLFormCreator pCreate;
};

// The first row that matches the context (whose record must be set), or
// null when none does (an experience of no known family).
const PLFormRow* FindPLFormRow(const CHXFormContext& ctx);
