// libFuzzer target: the resource library's bytes (PE headers, resource
// directory, string blocks) through the bounds-checked reader and the string
// loader. Whatever the reader hands out lies inside the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "general/resource.h"
#include "platform/pe_image.h"

namespace {

[[noreturn]] void Violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

constexpr uint16_t kStringTable = 6;

void CheckImage(const std::vector<uint8_t>& bytes) {
  CPEImage image;
  DWORD error = 0;
  if (!image.LoadBytes(bytes, &error)) return;
  for (uint16_t block = 1; block <= 64; ++block) {
    for (uint16_t language : {uint16_t{0x1009}, uint16_t{0x0407}, uint16_t{0x0411}, uint16_t{0}}) {
      const uint8_t* entry = nullptr;
      if (!image.FindResource(kStringTable, block, language, &entry, &error)) continue;
      CPEImage::ResourceData data;
      if (!image.EntryData(entry, &data)) continue;
      // The data must be readable in full; ASan reports a byte outside.
      volatile uint8_t sum = 0;
      for (uint32_t i = 0; i < data.size; ++i) sum = sum + data.data[i];
    }
  }
}

void CheckStrings(const uint8_t* pData, size_t nSize) {
  const std::string path = "/tmp/hx_fuzz_resource." + std::to_string(::getpid()) + ".dll";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(pData, 1, nSize, f);
  std::fclose(f);
  CResource resource;
  if (!resource.LoadModule(path)) return;
  for (int32_t id : {1, 16, 17, 100, 600, 601, 1000, 65535}) {
    for (LANGID language : {kEnglishLangId, LANGID{0x0407}, LANGID{0x0411}}) {
      std::u16string text;
      if (resource.LoadString(id, text, language) && text.size() * 2 > nSize) {
        Violated("a string is never longer than the file");
      }
    }
  }
  resource.UnloadModule();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  CheckImage(std::vector<uint8_t>(pData, pData + nSize));
  CheckStrings(pData, nSize);
  return 0;
}
