#include "platform/system_message.h"

#include <iterator>

namespace {

struct MessageRow {
  DWORD code;
  const char* text;
};

constexpr MessageRow kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {232, "The pipe is being closed."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {487, "Attempt to access invalid address."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1332, "No mapping between account names and security IDs was done."},
    {1337, "The security ID structure is invalid."},
    {1413, "Invalid index."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80010106u, "Cannot change thread mode after it is set."},
    {0x80040154u, "Class not registered"},
    {0x800401F0u, "CoInitialize has not been called."},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
    {0x8007054Bu, "The specified domain either does not exist or could not be contacted."},
    {0x8007203Au, "The server is not operational."},
    {0x80072030u, "There is no such object on the server."},
};

}  // namespace

std::string SystemMessageText(DWORD code) {
  // A Win32 code wrapped as an HRESULT has the Win32 code's text.
  for (const MessageRow& row : kMessages) {
    if (row.code == code) return row.text;
  }
  if ((code & 0xFFFF0000u) == 0x80070000u) {
    DWORD win32 = code & 0xFFFFu;
    for (const MessageRow& row : kMessages) {
      if (row.code == win32) return row.text;
    }
  }
  return {};
}
