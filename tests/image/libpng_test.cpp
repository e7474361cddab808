// libpng and zlib are built into the program itself, at the versions of their headers.
#include <png.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// The module whose image holds an address.
HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(address), &module);
  return module;
}

TEST(Libpng, LinkedVersionMatchesItsHeaderAndZlibIsStatic) {
  EXPECT_STREQ(png_get_libpng_ver(nullptr), PNG_LIBPNG_VER_STRING);
  EXPECT_STREQ(zlibVersion(), ZLIB_VERSION);
  // Both live in the executable itself. NOTE: under Wine a process that links USER32 and GDI32
  // has Wine's own zlib1.dll loaded, so a DLL of that name says nothing about our zlib.
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(&png_get_libpng_ver)), program);
  EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(&zlibVersion)), program);
  EXPECT_EQ(GetModuleHandleA("libpng16.dll"), nullptr);
}

}  // namespace
