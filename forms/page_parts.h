// The check of the forms that edit or read a page's HEAD and BODY.
#pragma once

class CHXFormContext;

// Whether the page has its HTML, BODY and HEAD elements, tested in this
// order; the first one missing is logged as "<pLabel><HTML> element was not
// found!" (BODY, HEAD likewise).
bool HasHtmlBodyAndHead(CHXFormContext* pFormContext, const char* pLabel);
