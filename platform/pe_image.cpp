#include "platform/pe_image.h"

#include <fstream>
#include <iterator>

namespace {

constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint32_t kNamedEntryFlag = 0x80000000u;
constexpr uint64_t kMaxImageBytes = 256u * 1024u * 1024u;

}  // namespace

bool CPEImage::Read16(uint64_t off, uint16_t* v) const {
  if (off > m_bytes.size() || m_bytes.size() - off < 2) return false;
  *v = static_cast<uint16_t>(m_bytes[off] | (m_bytes[off + 1] << 8));
  return true;
}

bool CPEImage::Read32(uint64_t off, uint32_t* v) const {
  if (off > m_bytes.size() || m_bytes.size() - off < 4) return false;
  *v = static_cast<uint32_t>(m_bytes[off]) | (static_cast<uint32_t>(m_bytes[off + 1]) << 8) |
       (static_cast<uint32_t>(m_bytes[off + 2]) << 16) | (static_cast<uint32_t>(m_bytes[off + 3]) << 24);
  return true;
}

bool CPEImage::Load(const std::string& path, DWORD* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  f.seekg(0, std::ios::end);
  std::streamoff size = f.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxImageBytes) {
    *error = ERROR_BAD_EXE_FORMAT;
    return false;
  }
  f.seekg(0, std::ios::beg);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (size > 0 && !f.read(reinterpret_cast<char*>(bytes.data()), size)) {
    *error = ERROR_BAD_EXE_FORMAT;
    return false;
  }
  return LoadBytes(std::move(bytes), error);
}

bool CPEImage::LoadBytes(std::vector<uint8_t> bytes, DWORD* error) {
  m_bytes = std::move(bytes);
  m_sections.clear();
  m_resourceRva = m_resourceSize = m_resourceOffset = 0;
  if (!Parse(error)) {
    m_bytes.clear();
    m_sections.clear();
    return false;
  }
  return true;
}

bool CPEImage::Parse(DWORD* error) {
  *error = ERROR_BAD_EXE_FORMAT;
  uint16_t mz = 0;
  uint32_t peOffset = 0;
  if (!Read16(0, &mz) || mz != 0x5A4D || !Read32(0x3C, &peOffset)) return false;
  uint32_t signature = 0;
  if (!Read32(peOffset, &signature) || signature != 0x00004550u) return false;
  const uint64_t coff = static_cast<uint64_t>(peOffset) + 4;
  uint16_t sectionCount = 0;
  uint16_t optionalSize = 0;
  if (!Read16(coff + 2, &sectionCount) || !Read16(coff + 16, &optionalSize)) return false;
  const uint64_t optional = coff + 20;
  uint16_t magic = 0;
  if (!Read16(optional, &magic)) return false;
  uint64_t dirCountOffset = 0;
  if (magic == 0x20B) {
    dirCountOffset = 108;  // PE32+
  } else if (magic == 0x10B) {
    dirCountOffset = 92;  // PE32
  } else {
    return false;
  }
  uint32_t dirCount = 0;
  if (optionalSize < dirCountOffset + 4 || !Read32(optional + dirCountOffset, &dirCount)) return false;
  const uint64_t dirs = optional + dirCountOffset + 4;
  if (dirCount > kResourceDirectoryIndex) {
    const uint64_t entry = dirs + 8ull * kResourceDirectoryIndex;
    if (entry + 8 > optional + optionalSize) return false;
    if (!Read32(entry, &m_resourceRva) || !Read32(entry + 4, &m_resourceSize)) return false;
  }
  const uint64_t sectionTable = optional + optionalSize;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t s = sectionTable + 40ull * i;
    Section sec{};
    if (!Read32(s + 8, &sec.virtualSize) || !Read32(s + 12, &sec.virtualAddress) ||
        !Read32(s + 16, &sec.rawSize) || !Read32(s + 20, &sec.rawOffset)) {
      return false;
    }
    if (sec.rawSize > 0 && (static_cast<uint64_t>(sec.rawOffset) + sec.rawSize > m_bytes.size())) return false;
    m_sections.push_back(sec);
  }
  if (m_resourceRva != 0 && m_resourceSize != 0) {
    if (!RvaToOffset(m_resourceRva, m_resourceSize, &m_resourceOffset)) return false;
  } else {
    m_resourceRva = m_resourceSize = 0;
  }
  *error = 0;
  return true;
}

bool CPEImage::RvaToOffset(uint32_t rva, uint32_t size, uint32_t* offset) const {
  for (const Section& s : m_sections) {
    uint32_t extent = s.rawSize < s.virtualSize || s.virtualSize == 0 ? s.rawSize : s.virtualSize;
    uint64_t start = s.virtualAddress;
    uint64_t end = start + extent;
    if (rva >= start && static_cast<uint64_t>(rva) + size <= end) {
      uint64_t off = static_cast<uint64_t>(s.rawOffset) + (rva - start);
      if (off + size > m_bytes.size()) return false;
      *offset = static_cast<uint32_t>(off);
      return true;
    }
  }
  return false;
}

bool CPEImage::FindEntry(uint32_t dirOffset, uint16_t id, uint32_t* offsetToData) const {
  // A directory: 16-byte header (named count at 12, id count at 14), then
  // 8-byte entries, named ones first.
  if (static_cast<uint64_t>(dirOffset) + 16 > m_resourceSize) return false;
  const uint64_t dir = static_cast<uint64_t>(m_resourceOffset) + dirOffset;
  uint16_t named = 0;
  uint16_t ids = 0;
  if (!Read16(dir + 12, &named) || !Read16(dir + 14, &ids)) return false;
  const uint32_t total = static_cast<uint32_t>(named) + ids;
  if (static_cast<uint64_t>(dirOffset) + 16 + 8ull * total > m_resourceSize) return false;
  for (uint32_t i = named; i < total; ++i) {
    const uint64_t e = dir + 16 + 8ull * i;
    uint32_t name = 0;
    uint32_t data = 0;
    if (!Read32(e, &name) || !Read32(e + 4, &data)) return false;
    if ((name & kNamedEntryFlag) == 0 && (name & 0xFFFFu) == id) {
      *offsetToData = data;
      return true;
    }
  }
  return false;
}

bool CPEImage::FindResource(uint16_t type, uint16_t name, uint16_t language, const uint8_t** entry,
                            DWORD* error) const {
  if (m_resourceSize == 0) {
    *error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return false;
  }
  uint32_t next = 0;
  // Type and name entries must lead to subdirectories, the language entry
  // to a data entry; anything else is a damaged directory.
  if (!FindEntry(0, type, &next) || (next & kSubdirectoryFlag) == 0) {
    *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return false;
  }
  if (!FindEntry(next & ~kSubdirectoryFlag, name, &next) || (next & kSubdirectoryFlag) == 0) {
    *error = ERROR_RESOURCE_NAME_NOT_FOUND;
    return false;
  }
  if (!FindEntry(next & ~kSubdirectoryFlag, language, &next) || (next & kSubdirectoryFlag) != 0 ||
      static_cast<uint64_t>(next) + 16 > m_resourceSize) {
    *error = ERROR_RESOURCE_LANG_NOT_FOUND;
    return false;
  }
  *entry = m_bytes.data() + m_resourceOffset + next;
  *error = 0;
  return true;
}

bool CPEImage::EntryData(const uint8_t* entry, ResourceData* out) const {
  if (m_resourceSize == 0 || entry == nullptr) return false;
  const uint8_t* first = m_bytes.data() + m_resourceOffset;
  if (entry < first || entry >= first + m_resourceSize) return false;
  const uint64_t offset = static_cast<uint64_t>(entry - m_bytes.data());
  if (offset - m_resourceOffset + 16 > m_resourceSize) return false;
  uint32_t dataRva = 0;
  uint32_t dataSize = 0;
  uint32_t dataOffset = 0;
  if (!Read32(offset, &dataRva) || !Read32(offset + 4, &dataSize) || !RvaToOffset(dataRva, dataSize, &dataOffset)) {
    return false;
  }
  out->data = m_bytes.data() + dataOffset;
  out->size = dataSize;
  return true;
}
