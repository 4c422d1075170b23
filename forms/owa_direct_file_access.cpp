// The module reads no OWA configuration from the directory yet: both file
// access flags keep their unread value 0, which means direct file access is
// disabled for either class of client.
#include "forms/owa_direct_file_access.h"

bool IsOWADirectFileAccessEnabled(bool bPublicClient) { return false; }
