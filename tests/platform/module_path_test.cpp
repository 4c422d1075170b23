#include <gtest/gtest.h>
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/last_error.h"
#include "platform/module_path.h"

namespace {

TEST(ModulePath, WindowsNamesMapToSharedObjects) {
  EXPECT_EQ("PL_Hexmoor.so", ModuleFileNameForPlatform("PL_Hexmoor.dll"));
  EXPECT_EQ("LogModule.so", ModuleFileNameForPlatform("LogModule.DLL"));
  EXPECT_EQ("Convert.so", ModuleFileNameForPlatform("Convert"));
  EXPECT_EQ("libc.so.6", ModuleFileNameForPlatform("libc.so.6"));
}

TEST(ModulePath, HandleAndFileNameOfLoadedLibrary) {
  HMODULE libc = GetModuleHandleA("libc.so.6");
  ASSERT_NE(nullptr, libc);
  EXPECT_EQ(libc, GetModuleHandleA("LIBC.SO.6"));  // names match without case
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(libc, path, sizeof(path));
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(path).size(), n);
  EXPECT_EQ("libc.so.6", std::filesystem::path(path).filename().string());

  // Looked up in libc itself: a sanitizer runtime may stand in for the
  // global symbol.
  const void* libcFunction = dlsym(libc, "getpid");
  ASSERT_NE(nullptr, libcFunction);
  std::string viaAddress;
  ASSERT_TRUE(GetModulePathOfAddress(libcFunction, viaAddress));
  EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical(viaAddress));

  // A dlopen handle names the same file.
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(nullptr, handle);
  char again[MAX_PATH + 1] = {};
  EXPECT_EQ(n, GetModuleFileNameA(handle, again, sizeof(again)));
  EXPECT_STREQ(path, again);
  dlclose(handle);

  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleA("NotLoadedHere.dll"));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
}

TEST(ModulePath, ExecutableAndShortBuffer) {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::filesystem::canonical("/proc/self/exe").string(), path);

  std::string own;
  ASSERT_TRUE(GetModulePathOfAddress(reinterpret_cast<const void*>(&GetModuleFileNameA), own));
  EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical(own));

  char small[5];
  SetLastError(0);
  EXPECT_EQ(5u, GetModuleFileNameA(nullptr, small, sizeof(small)));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(std::string(path).substr(0, 4), small);
  EXPECT_EQ(0u, GetModuleFileNameA(nullptr, nullptr, 10));

  std::string none;
  EXPECT_FALSE(GetModulePathOfAddress(nullptr, none));
}

}  // namespace
