// Positions and forward declarations shared by every part of the HTML parser.
// Positions are byte offsets from the first byte of the response buffer (not
// from the HTML data); the value with all bits set means "no position".
#pragma once

#include <cstdint>

using HXPos = uint64_t;
inline constexpr HXPos HX_NPOS = ~static_cast<HXPos>(0);

// Log lines print positions and lengths as 32-bit signed values.
inline int LogPos(HXPos nPos) { return static_cast<int>(static_cast<int32_t>(nPos)); }

class CSegment;
class CSource;
class CTag;
class CStartTag;
class CEndTag;
class CElement;
class CAttribute;
class CAttributes;
class CTagType;
class CStartTagType;
class CEndTagType;
class CCache;
