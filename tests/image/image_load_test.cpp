// ImageLoad: libpng's whole corpus against an independent decoding, the application's lens
// pictures, bitmap and icon files, and files that cannot be loaded.
#include <gtest/gtest.h>

#include "image.h"
#include "image_internal.h"
#include "image_fixture.h"
#include "platform.h"
#include "test_support.h"

namespace {

// The pixels of image number with the 32-bit convention.
std::vector<uint8_t> PixelsOf(int32_t number) {
  return ReadBitmap32(BitmapOf(number), ImageGetWidth(number), ImageGetHeight(number));
}

// ---------------------------------------------------------------------------------------------
// The corpus
// ---------------------------------------------------------------------------------------------

class CorpusFile : public testing::TestWithParam<std::string> {};

// Without DisplayFormat: a top-down DIB section of 24 bits (no alpha channel) or 32 bits (with
// one, which the fourth byte then holds). With it: a display-format bitmap of the colours.
TEST_P(CorpusFile, LoadsWithThePixelsOfAnIndependentDecoding) {
  std::string path = OwnCopy(PngContribPath(GetParam()));
  ReferencePicture reference = ReferenceDecode(path);
  ASSERT_TRUE(reference.ok) << "the corpus file is valid";
  int width = reference.width, height = reference.height;
  bool alpha = (reference.colourType & 4) != 0;

  int32_t image = ImageLoad(-1, path.c_str());
  ASSERT_NE(image, 0);
  EXPECT_EQ(ShapeOf(image), ImageShape(width, height, alpha ? 32 : 24, 0, DibSection));
  EXPECT_EQ(ComparePixels(reference.pixels, PixelsOf(image), width, height, alpha ? 4 : 3), "");

  ASSERT_NE(ImageLoad(5, path.c_str(), DisplayFormat), 0);
  EXPECT_EQ(ShapeOf(5), ImageShape(width, height, DisplayDepth(), DisplayFormat, DeviceBitmap));
  EXPECT_EQ(ComparePixels(reference.pixels, PixelsOf(5), width, height, 3), "");
}

INSTANTIATE_TEST_SUITE_P(Libpng, CorpusFile, testing::ValuesIn(ValidCorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return ParameterName(info.param);
                         });

// pngsuite's "i" files are its other files stored again, most of them with Adam7 interlacing
// (the header's interlace byte, at offset 28, is 1; a few "i" files are not interlaced).
std::vector<std::string> InterlacedCorpusFiles() {
  std::vector<std::string> interlaced;
  for (const std::string& name : ValidCorpusFiles()) {
    size_t slash = name.rfind('/');
    if (name.compare(0, 8, "pngsuite") != 0 || name[slash + 1] != 'i') continue;
    std::vector<uint8_t> file = ReadWholeFile(PngContribPath(name));
    if (file.size() > 28 && file[28] == 1) interlaced.push_back(name);
  }
  return interlaced;
}

// The twin of an interlaced file: the same name without its "i", in pngsuite itself.
std::string TwinOf(const std::string& interlaced) {
  return "pngsuite/" + interlaced.substr(interlaced.rfind('/') + 2);
}

class InterlacedTwins : public testing::TestWithParam<std::string> {};

TEST_P(InterlacedTwins, GiveIdenticalPixels) {
  std::string interlacedPath = OwnCopy(PngContribPath(GetParam()));
  std::string plainPath = OwnCopy(PngContribPath(TwinOf(GetParam())));
  ASSERT_EQ(ReferenceDecode(interlacedPath).interlace, 1) << "the file is interlaced";
  ASSERT_EQ(ReferenceDecode(plainPath).interlace, 0) << "its twin is not";
  for (int32_t flags : {0, DisplayFormat}) {
    SCOPED_TRACE(flags);
    int32_t interlaced = ImageLoad(-1, interlacedPath.c_str(), flags);
    int32_t plain = ImageLoad(-1, plainPath.c_str(), flags);
    ASSERT_NE(interlaced, 0);
    ASSERT_NE(plain, 0);
    ASSERT_EQ(ShapeOf(interlaced), ShapeOf(plain));
    EXPECT_EQ(ComparePixels(PixelsOf(plain), PixelsOf(interlaced), ImageGetWidth(plain),
                            ImageGetHeight(plain), flags == 0 ? 4 : 3),
              "");
  }
}

INSTANTIATE_TEST_SUITE_P(Pngsuite, InterlacedTwins, testing::ValuesIn(InterlacedCorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return ParameterName(info.param);
                         });

TEST(ImageLoadCorpus, EveryInterlacedFileHasATwin) {
  std::vector<std::string> interlaced = InterlacedCorpusFiles();
  EXPECT_GE(interlaced.size(), 20u);
  for (const std::string& name : interlaced)
    EXPECT_FALSE(ReadWholeFile(PngContribPath(TwinOf(name))).empty()) << name;
}

// ---------------------------------------------------------------------------------------------
// The application's pictures
// ---------------------------------------------------------------------------------------------

TEST(ImageLoadLensPictures, Are500By200WithTheirOwnPixels) {
  for (const char* style : {"rippled", "frosted", "prism"}) {
    for (const char* picture : {"Bumpmap.png", "Color.png"}) {
      std::string path = OwnCopy(std::string(LUNETRIX_LENS_PICTURES) + "/" + style + "/" + picture);
      SCOPED_TRACE(path);
      ReferencePicture reference = ReferenceDecode(path);
      ASSERT_TRUE(reference.ok);
      // Held open meanwhile, as an editor holds it: writing, and sharing nothing but reading.
      HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
      int32_t image = ImageLoad(-1, path.c_str());
      CloseHandle(held);
      ASSERT_NE(image, 0);
      EXPECT_EQ(ShapeOf(image),
                ImageShape(500, 200, reference.colourType & 4 ? 32 : 24, 0, DibSection));
      EXPECT_EQ(ComparePixels(reference.pixels, PixelsOf(image), 500, 200, 3), "");
      ImageFree(image);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Bitmap and icon files: the first two bytes decide
// ---------------------------------------------------------------------------------------------

class ImageLoadFiles : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = folder_.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  TempFolder folder_;
};

// A file is a bitmap file by its first bytes alone: a DIB section as stored, or a
// device-dependent bitmap with DisplayFormat or at 8 bits a pixel, which takes a second load.
TEST_F(ImageLoadFiles, BitmapFilesLoadAsSectionsOrDeviceBitmapsWithTheirPixels) {
  struct Case {
    const char* name;
    int32_t number, width, height, bitCount, flags, depth, answer;
    size_t loads;
  } cases[] = {{"picture.png", -1, 7, 5, 24, 0, 24, DibSection, 1},
               {"grey.bmp", -1, 6, 4, 8, 0, DisplayDepth(), DeviceBitmap, 2},
               {"colour.bmp", 1, 9, 3, 24, DisplayFormat, DisplayDepth(), DeviceBitmap, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = Write(c.name, BitmapFile(c.width, c.height, c.bitCount));
    ImportWatch<HANDLE, HINSTANCE, LPCSTR, UINT, int, int, UINT> loads("user32.dll", "LoadImageA");
    int32_t result = ImageLoad(c.number, path.c_str(), c.flags);
    ASSERT_NE(result, 0);
    int32_t image = c.number == -1 ? result : c.number;
    ASSERT_EQ(loads.results.size(), c.loads);
    EXPECT_EQ(loads.results.back(), BitmapOf(image));
    // A section loaded first is deleted at once.
    EXPECT_EQ(GetObjectType(loads.results[0]), c.loads == 2 ? 0u : DWORD{OBJ_BITMAP});
    EXPECT_EQ(ShapeOf(image), ImageShape(c.width, c.height, c.depth, c.flags, c.answer));
    std::vector<uint8_t> expected;  // grey, or three bytes of BitmapFileByte
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        for (int i = 0; i < 4; ++i)
          expected.push_back(i == 3 ? 0 : BitmapFileByte(x, y, c.bitCount == 8 ? 0 : i));
    EXPECT_EQ(ComparePixels(expected, PixelsOf(image), c.width, c.height, 3), "");
  }
}

TEST_F(ImageLoadFiles, APngNamedLikeABitmapLoadsThroughTheDecoder) {
  std::vector<uint8_t> png = ReadWholeFile(PngContribPath("pngsuite/basn6a08.png"));
  std::string path = Write("picture.bmp", png);
  int32_t image = ImageLoad(-1, path.c_str());
  ASSERT_NE(image, 0);
  EXPECT_EQ(RecordOf(image)->depth, 32);
  ReferencePicture reference = ReferenceDecode(path);
  EXPECT_EQ(ComparePixels(reference.pixels, PixelsOf(image), 32, 32, 4), "");
}

// A monochrome icon is measured by half its mask.
TEST_F(ImageLoadFiles, IconFilesLoadAsIconsAndAreDestroyedAsIcons) {
  for (bool colour : {true, false}) {
    SCOPED_TRACE(colour ? "colour icon" : "monochrome icon");
    std::string path = Write(colour ? "picture.png" : "mono.ico", IconFile(32, colour));
    int32_t image = ImageLoad(-1, path.c_str());
    ASSERT_NE(image, 0);
    auto icon = reinterpret_cast<HICON>(static_cast<intptr_t>(ImageGetHandle(image)));
    ICONINFO parts = {};
    ASSERT_TRUE(GetIconInfo(icon, &parts)) << "the handle is an icon";
    DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    EXPECT_NE(GetObjectType(icon), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(ShapeOf(image), ImageShape(32, 32, colour ? 32 : 1, 0, 0)) << "no bitmap at all";
    EXPECT_EQ(ImageDrawingOutput(image), nullptr) << "an icon is drawn only, never drawn on";
    ImageFree(image);
    EXPECT_FALSE(GetIconInfo(icon, &parts)) << "ImageFree destroyed the icon";
    EXPECT_EQ(ImageGetHandle(image), 0);
  }
}

// Swaps BlockHeap for a heap that is full while it lives: no table can link another block, so
// a dynamic number or a slot past the first block gets the image table's scratch record.
class FullBlockHeap {
 public:
  FullBlockHeap() : saved_(BlockHeap), full_(HeapCreate(0, 0, 64 * 1024)) {
    while (full_ != nullptr && HeapAlloc(full_, 0, 16) != nullptr) {
    }
    BlockHeap = full_;
  }
  ~FullBlockHeap() {
    BlockHeap = saved_;
    HeapDestroy(full_);
  }
  bool ok() const { return full_ != nullptr; }

 private:
  HANDLE saved_;
  HANDLE full_;
};

// Creating and loading into the scratch record give 0, and the picture made for it is gone.
TEST_F(ImageLoadFiles, ARecordTheTableCannotHoldGivesZeroAndKeepsNoPicture) {
  std::string bitmapFile = Write("colour.bmp", BitmapFile(9, 3, 24));
  std::string iconFile = Write("colour.ico", IconFile(16, true));
  std::string pngFile = OwnCopy(PngContribPath("pngsuite/basn2c08.png"));
  const int32_t pastTheFirstBlock = 100;
  {  // (a bitmap or icon made for the scratch record and kept would show in the books)
    FullBlockHeap full;
    ASSERT_TRUE(full.ok());
    for (int32_t number : {-1, pastTheFirstBlock}) {
      SCOPED_TRACE(number);
      EXPECT_EQ(ImageCreate(number, 8, 8), 0);
      EXPECT_EQ(ImageCreate(number, 8, 8, 24), 0);
      EXPECT_EQ(ImageLoad(number, bitmapFile.c_str()), 0);
      EXPECT_EQ(ImageLoad(number, iconFile.c_str()), 0);
      EXPECT_EQ(ImageLoad(number, pngFile.c_str(), DisplayFormat), 0);
    }
    EXPECT_EQ(ImageGetHandle(pastTheFirstBlock), 0);
    EXPECT_EQ(PendingFile, nullptr);
  }
  // With room in the heap again the same number takes an image.
  EXPECT_NE(ImageCreate(pastTheFirstBlock, 8, 8), 0);
  EXPECT_EQ(ImageGetWidth(pastTheFirstBlock), 8);
}

TEST_F(ImageLoadFiles, ImageMeasureMeasuresBitmapsAndBothKindsOfIconAndNothingElse) {
  ASSERT_NE(ImageCreate(2, 7, 5, 24), 0);
  BITMAP measured = {};
  EXPECT_EQ(ImageMeasure(BitmapOf(2), &measured), 1);
  EXPECT_EQ(std::make_tuple(measured.bmWidth, measured.bmHeight, measured.bmBitsPixel),
            std::make_tuple(7, 5, 24));
  for (bool colour : {true, false}) {
    SCOPED_TRACE(colour ? "colour icon" : "monochrome icon");
    std::string path = Write(colour ? "colour.ico" : "mono.ico", IconFile(16, colour));
    int32_t image = ImageLoad(-1, path.c_str());
    ASSERT_NE(image, 0);
    measured = {};
    EXPECT_EQ(ImageMeasure(reinterpret_cast<HANDLE>(ImageGetHandle(image)), &measured), 1);
    EXPECT_EQ(std::make_tuple(measured.bmWidth, measured.bmHeight, measured.bmBitsPixel),
              std::make_tuple(16, 16, colour ? 32 : 1));
  }
  // Null, a deleted bitmap and a brush are neither: 0, and the measurements are left alone.
  HBITMAP deleted = CreateBitmap(3, 3, 1, 32, nullptr);
  DeleteObject(deleted);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  for (HANDLE stranger : {HANDLE{}, HANDLE(deleted), HANDLE(brush)}) {
    BITMAP untouched = {};
    untouched.bmWidth = 77;
    EXPECT_EQ(ImageMeasure(stranger, &untouched), 0);
    EXPECT_EQ(untouched.bmWidth, 77);
  }
  DeleteObject(brush);
}

TEST_F(ImageLoadFiles, TheLowByteOfTheFlagsIsKept) {
  std::string path = OwnCopy(PngContribPath("pngsuite/basn2c08.png"));
  ASSERT_NE(ImageLoad(0, path.c_str(), 0x1283), 0);
  EXPECT_EQ(ShapeOf(0), ImageShape(32, 32, DisplayDepth(), 0x83, DeviceBitmap));
  ASSERT_NE(ImageLoad(0, path.c_str(), 0x1203), 0);
  EXPECT_EQ(ShapeOf(0), ImageShape(32, 32, 24, 0x03, DibSection));
}

// ---------------------------------------------------------------------------------------------
// Files that cannot be loaded
// ---------------------------------------------------------------------------------------------

TEST_F(ImageLoadFiles, AMissingFileOrANumberBelowMinusOneFailsAndTheNumbersImageIsGone) {
  ASSERT_NE(ImageCreate(3, 10, 10), 0);
  HBITMAP previous = BitmapOf(3);
  EXPECT_EQ(ImageLoad(3, folder_.File("missing.png").c_str()), 0);
  EXPECT_EQ(ImageGetHandle(3), 0);
  EXPECT_EQ(GetObjectType(previous), 0u);
  EXPECT_EQ(ImageLoad(-1, folder_.File("missing.png").c_str()), 0);
  EXPECT_EQ(ImageLoad(-1, nullptr), 0);
  EXPECT_EQ(ImageLoad(-2, OwnCopy(PngContribPath("pngsuite/basn2c08.png")).c_str()), 0);
}

TEST_F(ImageLoadFiles, EmptyFilesFoldersAndStrangersFailWithoutLeavingRecords) {
  std::string empty = Write("empty.png", {});
  std::string one = Write("one.png", {'B'});
  std::string text = Write("text.png", {'h', 'e', 'l', 'l', 'o', '\n'});
  std::string badBitmap = Write("bad.bmp", {'B', 'M', 1, 2, 3});
  std::string directory = folder_.File("folder.png");
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
  int before = CountImages();
  for (const std::string& path : {empty, one, text, badBitmap, directory}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ImageLoad(-1, path.c_str()), 0);
    EXPECT_EQ(ImageLoad(6, path.c_str()), 0);
    EXPECT_EQ(ImageGetHandle(6), 0);
    EXPECT_EQ(PendingFile, nullptr);
  }
  EXPECT_EQ(CountImages(), before);
}

TEST_F(ImageLoadFiles, ATruncatedPngIsAnImageWithItsUndecodedRowsBlack) {
  std::string sample = PngContribPath("pngsuite/basn2c08.png");
  std::vector<uint8_t> file = SplitImageData(ReadWholeFile(sample), 16);
  std::vector<PngChunk> chunks = PngChunks(file);
  // Cut in the middle of the third of the image data's chunks.
  size_t cut = 0;
  for (size_t i = 0, seen = 0; i < chunks.size() && cut == 0; ++i)
    if (chunks[i].type == "IDAT" && ++seen == 3) cut = chunks[i].offset + 8 + 8;
  ASSERT_GT(cut, 0u);
  std::string path = Write("cut.png", std::vector<uint8_t>(file.begin(), file.begin() + cut));
  ReferencePicture reference = ReferenceDecode(sample);
  for (int32_t flags : {0, DisplayFormat}) {
    SCOPED_TRACE(flags);
    int32_t image = ImageLoad(-1, path.c_str(), flags);
    ASSERT_NE(image, 0) << "a decoding error still leaves the image";
    std::vector<uint8_t> pixels = PixelsOf(image);
    ASSERT_EQ(pixels.size(), 32u * 32 * 4);
    int complete = CompleteRowsThenBlack(reference.pixels, pixels, 32, 32, 3);
    EXPECT_GT(complete, 0) << "the rows before the cut are decoded";
    EXPECT_LT(complete, 32) << "the rows after the cut are black";
  }
}

TEST_F(ImageLoadFiles, WithNoDecoderRegisteredEveryPngFails) {
  DecoderListReset();
  EXPECT_EQ(ImageLoad(-1, OwnCopy(PngContribPath("pngsuite/basn2c08.png")).c_str()), 0);
  std::string bitmap = Write("still.bmp", BitmapFile(4, 4, 24));
  EXPECT_NE(ImageLoad(-1, bitmap.c_str()), 0) << "bitmap files need no decoder";
}

}  // namespace
