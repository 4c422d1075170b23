// A bounds-checked reader of a PE file's headers and resource directory, for
// resource-only libraries loaded as data. Every offset and size read from the
// file is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

class CPEImage {
 public:
  // Reads and checks the file. False with a Win32 code: 2 for a missing file,
  // 193 for a file that is not a well-formed PE image.
  bool Load(const std::string& path, DWORD* error);
  bool LoadBytes(std::vector<uint8_t> bytes, DWORD* error);

  struct ResourceData {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
  };
  // Finds the resource of a numeric type, numeric name and language and
  // gives its data entry (a pointer into the image). False with 1812 (no
  // resource section), 1813 (type), 1814 (name) or 1815 (language); a damaged
  // directory reads as "not found".
  bool FindResource(uint16_t type, uint16_t name, uint16_t language, const uint8_t** entry, DWORD* error) const;
  // The bytes a data entry describes; false when the entry is not one of this
  // image's or its bytes lie outside the file.
  bool EntryData(const uint8_t* entry, ResourceData* out) const;

 private:
  bool Parse(DWORD* error);
  // File offset of a relative virtual address range; false when any byte of
  // it lies outside the sections or the file.
  bool RvaToOffset(uint32_t rva, uint32_t size, uint32_t* offset) const;
  bool Read16(uint64_t off, uint16_t* v) const;
  bool Read32(uint64_t off, uint32_t* v) const;
  // Looks for an id entry in the resource directory at dirOffset (relative to
  // the resource section start). Gives the entry's OffsetToData.
  bool FindEntry(uint32_t dirOffset, uint16_t id, uint32_t* offsetToData) const;

  struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
  };
  std::vector<uint8_t> m_bytes;
  std::vector<Section> m_sections;
  uint32_t m_resourceRva = 0;
  uint32_t m_resourceSize = 0;
  uint32_t m_resourceOffset = 0;  // file offset of the resource directory
};
