// Whether OWA's virtual directory lets this class of client (public or
// private computer) access files directly, as its configuration says.
#pragma once

bool IsOWADirectFileAccessEnabled(bool bPublicClient);
