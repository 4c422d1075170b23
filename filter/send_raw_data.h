// The send-raw-data step with the form factory passed in, so that the step
// can be driven with any form.
#pragma once

#include "common/counted_ptr.h"
#include "platform/win_types.h"

struct CDLLContext;
class CHXFormContext;
class CPLForm;

using FormCreator = CPLForm* (*)(const CCountedPtr<CHXFormContext>&);

DWORD SendRawDataWithForms(CDLLContext* pContext, FormCreator createForm);
