// The words the debug log writes for a flag.
#pragma once

inline const char* YN(bool b) { return b ? "Y" : "N"; }
inline const char* TrueFalse(bool b) { return b ? "TRUE" : "FALSE"; }
