// Which answers carry a page the forms may edit. Every edit addresses the
// page's own bytes as the browser shows them; a body that is not those bytes,
// or that the browser does not show, goes out as the server sent it.
#pragma once

#include <string_view>

struct CDLLContext;

// Every disposition given is "inline": a browser saves an answer of any
// other disposition type, known or not. The values (a repeated header comes
// joined with ", ") are split at the commas outside quoted file names; a
// quote left open cannot be read.
bool IsEveryDispositionInline(std::string_view disposition);

// Whether the response's body is a page to edit, read from its headers
// during send response. False, with the reason in the debug log, when the
// body is compressed (any Content-Encoding but identity: an edit would break
// the compressed stream or find no markup), framed by a Transfer-Encoding
// (an edit would leave its chunk sizes stale), or a file the browser saves
// (a Content-Disposition other than inline). A header the host does not give
// counts as absent; headers that cannot be read (no memory) make it false.
bool IsEditablePageBody(CDLLContext* pContext) noexcept;
