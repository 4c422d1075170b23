// How the host applies the module's list of page edits to its response
// buffer: in list order, every address referring to the buffer as it was
// handed over, each insert placed before the byte at its address.
#pragma once

#include <string>

#include "filter/buffer_instruction.h"
#include "platform/win_types.h"

// Result codes of a refused list (the page then goes out unchanged).
constexpr DWORD kHxApplyAddressOutside = ERROR_INVALID_ADDRESS;  // an address outside the buffer
constexpr DWORD kHxApplyBadInstruction = ERROR_INVALID_DATA;     // unknown type, no text, out of order, overlap

// Applies list to the size bytes at base, writing the edited copy to out.
// 0 on success; a refused list leaves out untouched.
DWORD HxApplyBufferInstructions(const char* base, size_t size, const CBufferInstructionList& list, std::string& out);
