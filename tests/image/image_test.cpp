// Image objects: blank images as real GDI bitmaps, numbers, freeing and the queries.
#include <gtest/gtest.h>

#include "image.h"
#include "image_internal.h"
#include "image_fixture.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------------------------

TEST(ImageLibrary, StartUpMakesTheTableAndTheThreadSlices) {
  ASSERT_NE(ImageTable, nullptr);
  EXPECT_EQ(std::make_tuple(ImageTable->recordSize, ImageTable->blockCapacity, ImageTable->freeCallback),
            std::make_tuple(12, 16, &ImageFree));
  // The drawing slice is the first registration of all; the image slice follows it directly
  // (no window or gadget library in these tests).
  EXPECT_EQ(DrawingStateOffset, 0);
  EXPECT_EQ(ImageStateOffset, static_cast<int32_t>(sizeof(DrawingState)));
  auto* drawing = static_cast<DrawingState*>(ThreadDataGet(DrawingStateOffset));
  EXPECT_EQ(GetObjectType(drawing->defaultBrush), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetObjectType(drawing->defaultPen), static_cast<DWORD>(OBJ_PEN));
  EXPECT_EQ(drawing->dc, nullptr);
  auto* output = static_cast<ImageThreadState*>(ThreadDataGet(ImageStateOffset));
  EXPECT_EQ(output->imageDC, nullptr);
}

TEST(ImageCreate, ADynamicDisplayImageIsABlackCompatibleBitmap) {
  int32_t number = ImageCreate(-1, 500, 200);
  ASSERT_NE(number, 0);
  EXPECT_EQ(RecordOf(number), reinterpret_cast<const ImageRecord*>(static_cast<intptr_t>(number)))
      << "a dynamic number is its record's address";
  HBITMAP bitmap = BitmapOf(number);
  ASSERT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
  // Device-dependent, of the display's depth (not 128, the depth asked for by default).
  EXPECT_EQ(ShapeOf(number), ImageShape(500, 200, DisplayDepth(), DisplayFormat, DeviceBitmap));
  std::vector<uint8_t> pixels = ReadBitmap32(bitmap, 500, 200);
  ASSERT_EQ(pixels.size(), 500u * 200 * 4);
  EXPECT_EQ(ComparePixels(std::vector<uint8_t>(pixels.size(), 0), pixels, 500, 200, 3), "");
}

TEST(ImageCreate, ANumberedImageReturnsItsHandle) {
  int32_t result = ImageCreate(3, 8, 6, 32);
  ASSERT_NE(result, 0);
  EXPECT_EQ(result, ImageGetHandle(3));
  EXPECT_EQ(ShapeOf(3), ImageShape(8, 6, 32, 0, DibSection));
}

TEST(ImageCreate, OtherDepthsMakeBottomUpSectionsClearedToBlack) {
  for (int32_t depth : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    int32_t number = ImageCreate(-1, 13, 5, depth);
    ASSERT_NE(number, 0);
    HBITMAP bitmap = BitmapOf(number);
    DIBSECTION section = {};
    ASSERT_EQ(GetObjectA(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmBitsPixel, depth);
    EXPECT_EQ(RecordOf(number)->depth, depth);
    std::vector<uint8_t> pixels = ReadBitmap32(bitmap, 13, 5);
    EXPECT_EQ(ComparePixels(std::vector<uint8_t>(pixels.size(), 0), pixels, 13, 5, 3), "");
    // A white top row lands in the section's last row of memory: rows run bottom-up.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, 13, 1, WHITENESS);
    GdiFlush();
    const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    EXPECT_NE(bits[4 * section.dsBm.bmWidthBytes], 0);
    EXPECT_EQ(bits[0], 0);
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
}

TEST(ImageCreate, PaletteSectionsRunFromBlackToWhite) {
  int32_t number = ImageCreate(-1, 4, 1, 8);
  ASSERT_NE(number, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, BitmapOf(number));
  RGBQUAD colours[256] = {};
  ASSERT_EQ(GetDIBColorTable(dc, 0, 256, colours), 256u);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(std::make_tuple(colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue),
              std::make_tuple(i, i, i));
  SelectObject(dc, previous);
  DeleteDC(dc);
}

TEST(ImageCreate, DepthsNoSectionCanHaveAndNumbersBelowMinusOneAreRefusedAndLeaveNoRecord) {
  int before = CountImages();
  for (int32_t depth : {0, 2, 7, 33, -1}) {
    EXPECT_EQ(ImageCreate(-1, 10, 10, depth), 0) << depth;
    EXPECT_EQ(ImageCreate(4, 10, 10, depth), 0) << depth;
    EXPECT_EQ(ImageGetHandle(4), 0);
  }
  EXPECT_EQ(ImageCreate(-2, 10, 10), 0);
  EXPECT_EQ(ImageCreate(INT32_MIN, 10, 10, 24), 0);
  EXPECT_EQ(ImageGetHandle(-2), 0);
  EXPECT_EQ(CountImages(), before) << "failed creations leave no record behind";
}

TEST(ImageCreate, ANumberInUseFreesItsImageFirst) {
  ASSERT_NE(ImageCreate(2, 10, 10), 0);
  HBITMAP first = BitmapOf(2);
  ASSERT_NE(ImageCreate(2, 20, 30), 0);
  EXPECT_EQ(GetObjectType(first), 0u) << "the first bitmap was deleted";
  EXPECT_EQ(ShapeOf(2), ImageShape(20, 30, DisplayDepth(), DisplayFormat, DeviceBitmap));
  HBITMAP second = BitmapOf(2);
  // A creation that fails leaves the number without an image, the old one gone all the same.
  EXPECT_EQ(ImageCreate(2, 10, 10, 7), 0);
  EXPECT_EQ(GetObjectType(second), 0u);
  EXPECT_EQ(ImageGetHandle(2), 0);
  EXPECT_EQ(ImageGetWidth(2), 0);
}

TEST(ImageCreate, SizesAbove32767ReadBackNegative) {
  int32_t number = ImageCreate(-1, 40000, 1, 1);
  ASSERT_NE(number, 0);
  EXPECT_EQ(ImageGetWidth(number), 40000 - 65536);
  EXPECT_EQ(ImageGetHeight(number), 1);
}

TEST(ImageQueries, NumbersThatNameNoImageGiveZero) {
  for (int32_t number : {-1, 0, 5, 15, 16, 1000, -7}) {
    EXPECT_EQ(std::make_tuple(ImageGetWidth(number), ImageGetHeight(number), ImageGetHandle(number)),
              std::make_tuple(0, 0, 0)) << number;
    ImageFree(number);  // nothing to free
  }
  int32_t kept = ImageCreate(-1, 3, 3);
  ImageFree(-1);
  EXPECT_NE(ImageGetHandle(kept), 0) << "freeing −1 frees nothing";
}

TEST(ImageFree, DeletesTheBitmapAndFreesTheNumber) {
  ASSERT_NE(ImageCreate(7, 4, 4, 24), 0);
  for (int32_t image : {ImageCreate(-1, 4, 4), 7}) {
    HBITMAP bitmap = BitmapOf(image);
    ImageFree(image);
    EXPECT_EQ(GetObjectType(bitmap), 0u) << image;
    EXPECT_EQ(ImageGetHandle(image), 0) << image;
  }
  ImageFree(7);  // a second free finds nothing
  EXPECT_NE(ImageCreate(7, 2, 2), 0) << "the number can be used again";
}

TEST(ImageFreeAll, FreesNumberedAndDynamicImages) {
  std::vector<HBITMAP> bitmaps;
  for (int32_t number : {9, 0, 40}) {
    ASSERT_NE(ImageCreate(number, 5, 5), 0);
    bitmaps.push_back(BitmapOf(number));
  }
  for (int i = 0; i < 3; ++i) bitmaps.push_back(BitmapOf(ImageCreate(-1, 5, 5, 32)));
  ASSERT_EQ(CountImages(), 6);
  ImageFreeAll();
  EXPECT_EQ(CountImages(), 0);
  for (HBITMAP bitmap : bitmaps) EXPECT_EQ(GetObjectType(bitmap), 0u);
  EXPECT_NE(ImageCreate(-1, 5, 5), 0) << "the table still works after its end step";
}

// Another thread finds the images the main thread made, and its own creations are shared too.
TEST(ImageObjects, AreSharedByAllThreads) {
  int32_t mine = ImageCreate(-1, 6, 7);
  int32_t width = 0, theirs = 0;
  ASSERT_TRUE(RunOnThread([&] {
    width = ImageGetWidth(mine);
    theirs = ImageCreate(-1, 11, 3, 24);
  }));
  EXPECT_EQ(width, 6);
  ASSERT_NE(theirs, 0);
  EXPECT_EQ(ImageGetWidth(theirs), 11);
}

}  // namespace
