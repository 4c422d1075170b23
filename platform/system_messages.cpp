#include "platform/system_messages.h"

#include <cstdio>

namespace {

struct Message {
  DWORD code;
  const char* text;
};

constexpr Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {19, "The media is write protected.\r\n"},
    {21, "The device is not ready.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {232, "The pipe is being closed.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {336, "An operation is not supported on a directory.\r\n"},
    {487, "Attempt to access invalid address.\r\n"},
    {1008, "An attempt was made to reference a token that does not exist.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1332, "No mapping between account names and security IDs was done.\r\n"},
    {1337, "The security ID structure is invalid.\r\n"},
    {1413, "Invalid index.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
    // The directory's failures, as the directory layer reports them.
    {1326, "The directory refused the bind name or its password.\r\n"},
    {8224, "The directory could not carry out the operation; its name or address may be wrong.\r\n"},
    {8226, "The directory did not answer within the time limit.\r\n"},
    {8240, "There is no such object on the server.\r\n"},
    {8242, "An invalid dn syntax has been specified.\r\n"},
    {8250, "The directory server cannot be reached.\r\n"},
    {8254, "The search filter cannot be recognized.\r\n"},
    {8344, "Insufficient access rights to perform the operation.\r\n"},
    {0x80004001u, "Not implemented\r\n"},
    {0x80005000u, "An invalid directory pathname was passed\r\n"},
    {0x80005008u, "One or more input parameters are invalid\r\n"},
    {0x8000500Du, "The directory property cannot be found in the cache.\r\n"},
    {0x80005010u, "The specified column in the directory was not set.\r\n"},
    {0x80004002u, "No such interface supported\r\n"},
    {0x80004003u, "Invalid pointer\r\n"},
    {0x80004005u, "Unspecified error\r\n"},
    {0x8000FFFFu, "Catastrophic failure\r\n"},
    {0x80010106u, "Cannot change thread mode after it is set.\r\n"},
    {0x80040154u, "Class not registered\r\n"},
    {0x800401F0u, "CoInitialize has not been called.\r\n"},
    {0x80040201u, "The named cache does not exist.\r\n"},
    {0x80040202u, "The item is not in the cache.\r\n"},
};

}  // namespace

const char* LookupSystemMessage(DWORD code) {
  // HRESULTs of the Win32 facility carry the Win32 code in their low word.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const Message& m : kMessages) {
    if (m.code == code) return m.text;
  }
  return "";
}

std::string SystemMessageInLine(DWORD code) {
  std::string text = LookupSystemMessage(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
  return text;
}

std::string ReasonInWords(DWORD code) {
  const std::string text = SystemMessageInLine(code);
  char hex[32] = {};
  std::snprintf(hex, sizeof hex, text.empty() ? "error 0x%08X" : " (0x%08X)", static_cast<unsigned>(code));
  return text + hex;
}
