// libpng and zlib are built into the program: a file of libpng's own corpus decodes through
// them, and its pixels are the ones the file's name promises.
#include <stdio.h>

#include <vector>

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
  // Both live in the executable itself. NOTE: Wine's own user32 and gdi32 load a zlib1.dll of
  // Wine's, so whether a DLL of that name is loaded says nothing about our zlib.
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(&png_get_libpng_ver)), program);
  EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(&zlibVersion)), program);
  EXPECT_EQ(GetModuleHandleA("libpng16.dll"), nullptr);
}

// basn2c08.png: 32 × 32, 8-bit RGB, non-interlaced. Read with libpng's own row API and no
// transformation, its first rows are white fading to yellow: blue is 255 - (x + 32 y).
TEST(Libpng, DecodesARgbFileOfItsOwnCorpus) {
  std::string path = PngContribPath("pngsuite/basn2c08.png");
  FILE* file = fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr) << path;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  ASSERT_TRUE(png && info);
  std::vector<uint8_t> pixels;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    ASSERT_EQ(png_get_image_width(png, info), 32u);
    ASSERT_EQ(png_get_image_height(png, info), 32u);
    ASSERT_EQ(png_get_color_type(png, info), PNG_COLOR_TYPE_RGB);
    ASSERT_EQ(png_get_bit_depth(png, info), 8);
    png_bytepp rows = png_get_rows(png, info);
    for (int y = 0; y < 32; ++y) pixels.insert(pixels.end(), rows[y], rows[y] + 32 * 3);
  } else {
    ADD_FAILURE() << "libpng reported an error";
  }
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(file);
  ASSERT_EQ(pixels.size(), 32u * 32 * 3);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = &pixels[(y * 32 + x) * 3];
      ASSERT_EQ(p[0], 255) << x << "," << y;
      ASSERT_EQ(p[1], 255) << x << "," << y;
      ASSERT_EQ(p[2], 255 - (x + 32 * y)) << x << "," << y;
    }
  }
}

TEST(Libpng, RejectsAFileThatIsNotAPng) {
  std::string path = PngContribPath("pngsuite/README");
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  EXPECT_FALSE(png_image_begin_read_from_file(&image, path.c_str()));
  png_image_free(&image);
}

}  // namespace
