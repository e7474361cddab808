// The decoder list and DecodeToBitmap, with scripted decoders beside the PNG decoder.
#include <gtest/gtest.h>

#include "image.h"
#include "image_internal.h"
#include "image_fixture.h"
#include "platform.h"
#include "test_support.h"

namespace {

// What a scripted decoder answers and what it was asked.
struct Script {
  int32_t accept = 0;       // check's result
  int32_t width = 0;        // of the "accepted image"
  int32_t height = 0;
  int32_t rowsWritten = 0;  // rows decode writes before it fails (all of them: success)
  int32_t checks = 0;       // calls of check
  int32_t decodes = 0;      // calls of decode with a buffer
  int32_t abandons = 0;     // calls of decode with a null buffer: never, by the contract
  int32_t lastPitch = 0;    // pitch of the last decode
  bool sawStreamAtStart = true;  // every stream check was handed began at the file's start
};

Script first, second;

// Pixel (x, y) of the scripted picture: bytes that differ from row to row and from black.
uint8_t ScriptByte(int x, int y, int i) { return static_cast<uint8_t>(1 + x * 7 + y * 13 + i * 50); }

template <Script& S>
int32_t ScriptCheck(FILE* stream, const void* memory, int32_t memorySize, const char* name) {
  ++S.checks;
  if (stream != nullptr) {
    S.sawStreamAtStart = S.sawStreamAtStart && ftell(stream) == 0;
    fgetc(stream);  // moves the stream on, as a real check does
  }
  return S.accept;
}

template <Script& S>
int32_t ScriptDecode(void* buffer, int32_t pitch, int32_t flags) {
  if (buffer == nullptr) {
    ++S.abandons;
    return 0;
  }
  ++S.decodes;
  S.lastPitch = pitch;
  int bytes = S.accept == 2 ? 4 : 3;
  for (int y = 0; y < S.rowsWritten; ++y) {
    auto* row = static_cast<uint8_t*>(buffer) + y * pitch;
    for (int x = 0; x < S.width; ++x)
      for (int i = 0; i < bytes; ++i) row[x * bytes + i] = ScriptByte(x, y, i);
  }
  return S.rowsWritten == S.height;
}

template <Script& S>
int32_t ScriptWidth(void) { return S.width; }
template <Script& S>
int32_t ScriptHeight(void) { return S.height; }

const ImageDecoder FirstDecoder = {ScriptCheck<first>, ScriptDecode<first>, ScriptWidth<first>,
                                   ScriptHeight<first>};
const ImageDecoder SecondDecoder = {ScriptCheck<second>, ScriptDecode<second>,
                                    ScriptWidth<second>, ScriptHeight<second>};

// The scripted picture as the 32-bit read-back shows it: rows below `rows` black.
std::vector<uint8_t> ScriptedPixels(const Script& s, int rows) {
  std::vector<uint8_t> pixels(static_cast<size_t>(s.width) * s.height * 4, 0);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < s.width; ++x)
      for (int i = 0; i < (s.accept == 2 ? 4 : 3); ++i)
        pixels[(static_cast<size_t>(y) * s.width + x) * 4 + i] = ScriptByte(x, y, i);
  return pixels;
}

// A file that only the scripted decoders know: eight bytes that are nothing in particular.
class DecoderListTest : public testing::Test {
 protected:
  void SetUp() override {
    DecoderListReset();
    path_ = folder_.File("picture.dat");
    ASSERT_TRUE(WriteWholeFile(path_, {'s', 'c', 'r', 'i', 'p', 't', 'e', 'd'}));
  }
  const char* path() const { return path_.c_str(); }

  TempFolder folder_;
  std::string path_;
};

// Leaves MainHeap's free memory full of a pattern, so an allocation that is not cleared shows it.
void DirtyMainHeap(size_t bytes) {
  void* scratch = HeapAlloc(MainHeap, 0, bytes);
  ASSERT_NE(scratch, nullptr);
  memset(scratch, 0xA5, bytes);
  HeapFree(MainHeap, 0, scratch);
}

// Busy blocks of a heap of at least size bytes. NOTE: ThreadWatcher makes its small arrays in
// MainHeap whenever its thread gets to run, so a count of all blocks is not stable.
int BusyBlocksOfAtLeast(HANDLE heap, size_t size) {
  PROCESS_HEAP_ENTRY entry{};
  int busy = 0;
  HeapLock(heap);
  while (HeapWalk(heap, &entry))
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.cbData >= size) ++busy;
  HeapUnlock(heap);
  return busy;
}

// ---------------------------------------------------------------------------------------------
// The list
// ---------------------------------------------------------------------------------------------

// The decoders are asked in the order they were registered, each reading the file from its
// start, until one accepts it: the file stays open for that one, and is closed when none does.
TEST_F(DecoderListTest, TheFirstRegisteredDecoderThatAcceptsTheFileWins) {
  ASSERT_EQ(DecoderRegister(&FirstDecoder), 1);
  ASSERT_EQ(DecoderRegister(&SecondDecoder), 1);
  struct Case {
    int32_t firstAccepts, secondAccepts, result, firstChecks, secondChecks;
    const ImageDecoder* winner;
  } cases[] = {{0, 0, 0, 1, 1, nullptr}, {1, 2, 1, 1, 0, &FirstDecoder},
               {0, 1, 1, 1, 1, &SecondDecoder}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.firstAccepts) + ", " + std::to_string(c.secondAccepts));
    first = Script{c.firstAccepts};
    second = Script{c.secondAccepts};
    EXPECT_EQ(DecoderFind(path(), nullptr, 0), c.result);
    EXPECT_EQ(CurrentDecoder, c.winner);
    EXPECT_EQ(std::make_tuple(first.checks, second.checks),
              std::make_tuple(c.firstChecks, c.secondChecks));
    EXPECT_TRUE(first.sawStreamAtStart && second.sawStreamAtStart);
    EXPECT_EQ(PendingFile != nullptr, c.winner != nullptr);
  }
}

TEST_F(DecoderListTest, WithNoDecoderEveryFileFailsAndIsClosed) {
  std::string png = PngContribPath("pngsuite/basn2c08.png");
  EXPECT_EQ(DecoderFind(png.c_str(), nullptr, 0), 0);
  std::vector<uint8_t> bytes = ReadWholeFile(png);
  EXPECT_EQ(DecoderFind(png.c_str(), bytes.data(), static_cast<int32_t>(bytes.size())), 0);
  EXPECT_EQ(DecoderFind(path(), nullptr, 0), 0);
  EXPECT_EQ(PendingFile, nullptr);  // and no other handle to it (the books show any left)
}

TEST_F(DecoderListTest, AHundredAndFirstRegistrationIsRefused) {
  for (int i = 0; i < DecoderListCapacity; ++i) ASSERT_EQ(DecoderRegister(&FirstDecoder), 1) << i;
  second.accept = 1;
  EXPECT_EQ(DecoderRegister(&SecondDecoder), 0);
  EXPECT_EQ(DecoderList.count, DecoderListCapacity);
  EXPECT_EQ(DecoderFind(path(), nullptr, 0), 0);
  EXPECT_EQ(first.checks, DecoderListCapacity);
  EXPECT_EQ(second.checks, 0) << "the refused decoder is never asked";
}

TEST_F(DecoderListTest, TheMemoryFormHandsTheBlockAndItsLengthToTheDecoders) {
  first.accept = 2;
  DecoderRegister(&FirstDecoder);
  uint8_t block[16] = {};
  EXPECT_EQ(DecoderFind("in memory", block, sizeof block), 2);
  EXPECT_EQ(PendingFile, nullptr);
  EXPECT_EQ(first.checks, 1);
}

TEST_F(DecoderListTest, FindingAnotherFileClosesOneThatWasNeverDecoded) {
  first.accept = 1;
  DecoderRegister(&FirstDecoder);
  ASSERT_EQ(DecoderFind(path(), nullptr, 0), 1);
  std::string other = folder_.File("other.dat");
  ASSERT_TRUE(WriteWholeFile(other, {1, 2, 3}));
  ASSERT_EQ(DecoderFind(other.c_str(), nullptr, 0), 1);  // the first closed: the books show it
}

// ---------------------------------------------------------------------------------------------
// DecodeToBitmap
// ---------------------------------------------------------------------------------------------

// Result 1 makes a top-down 24-bit section whose rows are padded to whole words, result 2 a
// top-down 32-bit one with alpha. The section's memory holds the decoder's rows as written: the
// top row first, a padding byte that stays zero.
TEST_F(DecoderListTest, EachResultMakesATopDownSectionOfItsDepth) {
  struct Case { int32_t result, width, height, pitch, bits, byte; } cases[] = {
      {DecoderAcceptsRgb, 5, 3, 3 * 5 + 5 % 4, 24, 0}, {DecoderAcceptsRgba, 7, 4, 28, 32, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    DecoderListReset();
    first = Script{c.result, c.width, c.height, c.height};
    DecoderRegister(&FirstDecoder);
    ASSERT_EQ(DecoderFind(path(), nullptr, 0), c.result);
    HBITMAP bitmap = DecodeToBitmap(c.result, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(PendingFile, nullptr);
    EXPECT_EQ(first.lastPitch, c.pitch);
    DIBSECTION section = {};
    ASSERT_EQ(GetObjectA(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmBitsPixel, c.bits);
    const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    for (int y = 0; y < c.height; ++y) {
      EXPECT_EQ(bits[y * c.pitch + c.byte], ScriptByte(0, y, c.byte)) << "row " << y;
      bool padded = c.pitch > c.width * c.bits / 8;
      EXPECT_TRUE(!padded || bits[y * c.pitch + c.pitch - 1] == 0) << "row " << y;
    }
    EXPECT_EQ(ComparePixels(ScriptedPixels(first, c.height), ReadBitmap32(bitmap, c.width, c.height),
                            c.width, c.height, c.bits / 8), "");
    DeleteObject(bitmap);
  }
}

TEST_F(DecoderListTest, AFailedDecodeLeavesItsUnwrittenRowsBlack) {
  first = Script{1, 9, 6, 2};
  DecoderRegister(&FirstDecoder);
  ASSERT_EQ(DecoderFind(path(), nullptr, 0), 1);
  HBITMAP bitmap = DecodeToBitmap(1, 0);
  ASSERT_NE(bitmap, nullptr) << "a failing decode still leaves a bitmap";
  EXPECT_EQ(ComparePixels(ScriptedPixels(first, 2), ReadBitmap32(bitmap, 9, 6), 9, 6, 3), "");
  DeleteObject(bitmap);
}

TEST_F(DecoderListTest, DisplayFormatMakesACompatibleBitmapWithBlackUnwrittenRows) {
  first = Script{2, 40, 30, 11};
  DecoderRegister(&FirstDecoder);
  const size_t rowBuffer = 40 * 4 * 31;  // pitch × (height + 1)
  DirtyMainHeap(rowBuffer * 4);
  int busy = BusyBlocksOfAtLeast(MainHeap, rowBuffer);
  ASSERT_EQ(DecoderFind(path(), nullptr, 0), 2);
  HBITMAP bitmap = DecodeToBitmap(2, DisplayFormat);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(BusyBlocksOfAtLeast(MainHeap, rowBuffer), busy) << "the row buffer goes back";
  DIBSECTION section = {};
  EXPECT_EQ(GetObjectA(bitmap, sizeof section, &section), static_cast<int>(sizeof(BITMAP)))
      << "a device-dependent bitmap, not a DIB section";
  EXPECT_EQ(std::make_tuple(section.dsBm.bmBitsPixel, section.dsBm.bmWidth, section.dsBm.bmHeight),
            std::make_tuple(DisplayDepth(), 40, 30));
  EXPECT_EQ(ComparePixels(ScriptedPixels(first, 11), ReadBitmap32(bitmap, 40, 30), 40, 30, 3), "");
  DeleteObject(bitmap);
}

// Only the image the find accepted is decoded, and only with its check's result: any other
// call gives 0 and leaves the decoder, the file and the accepted image as they were. Before
// any find nothing is made.
TEST_F(DecoderListTest, OnlyTheAcceptedImageIsDecodedAndOnlyWithItsOwnResult) {
  EXPECT_EQ(DecodeToBitmap(1, 0), nullptr);
  EXPECT_EQ(DecodeToBitmap(2, DisplayFormat), nullptr);
  first = Script{2, 125, 4, 4};  // 500 bytes a row with alpha, 375 without
  DecoderRegister(&FirstDecoder);
  ASSERT_EQ(DecoderFind(path(), nullptr, 0), 2);
  for (int32_t wrong : {1, 0, 3})
    for (int32_t flags : {0, DisplayFormat}) EXPECT_EQ(DecodeToBitmap(wrong, flags), nullptr);
  EXPECT_EQ(first.decodes + first.abandons, 0) << "the decoder was asked for something";
  EXPECT_NE(PendingFile, nullptr) << "the file was closed";
  HBITMAP bitmap = DecodeToBitmap(2, 0);
  ASSERT_NE(bitmap, nullptr) << "the accepted image is still there to decode";
  EXPECT_EQ(ComparePixels(ScriptedPixels(first, 4), ReadBitmap32(bitmap, 125, 4), 125, 4, 4), "");
  DeleteObject(bitmap);
  EXPECT_EQ(DecodeToBitmap(2, 0), nullptr) << "an image is decoded once";
  // A find that accepts nothing gives the image it replaces up and leaves none to decode.
  ASSERT_EQ(DecoderFind(path(), nullptr, 0), 2);
  first.accept = 0;
  EXPECT_EQ(DecoderFind(path(), nullptr, 0), 0);
  EXPECT_EQ(first.abandons, 0);
  EXPECT_EQ(PendingFile, nullptr);
  for (int32_t result : {1, 2}) EXPECT_EQ(DecodeToBitmap(result, 0), nullptr);
  EXPECT_EQ(first.decodes, 1);
}

// A picture with no pixels, or whose buffer cannot exist in a 32-bit process (no section, no
// heap buffer): the decoder's image is given up without a decode and the file is closed, in
// both forms. The large ones lie under and over the signed 32-bit size limit.
TEST_F(DecoderListTest, WhenNoBufferCanBeMadeTheDecoderAndFileAreReleased) {
  const Script scripts[] = {{1, 0, 5, 0}, {2, 23000, 23000, 23000}, {2, 40000, 40000, 40000}};
  for (int32_t flags : {0, DisplayFormat}) {
    for (const Script& script : scripts) {
      SCOPED_TRACE(std::to_string(script.width) + " flags " + std::to_string(flags));
      DecoderListReset();
      first = script;
      DecoderRegister(&FirstDecoder);
      ASSERT_EQ(DecoderFind(path(), nullptr, 0), script.accept);
      EXPECT_EQ(DecodeToBitmap(script.accept, flags), nullptr);
      EXPECT_EQ(first.decodes + first.abandons, 0) << "the decoder was asked for something";
      EXPECT_EQ(PendingFile, nullptr);
    }
  }
}

// The same release for a real PNG: a header that promises 23000 × 23000 RGBA pixels. libpng's
// structures stay until the decoder's next check, or its end.
TEST_F(DecoderListTest, APngTooLargeToHoldKeepsItsStructuresOnlyUntilTheNextCheck) {
  DecoderRegister(&PngDecoder);  // SetUp emptied the list
  std::vector<uint8_t> file =
      BuildPng({{"IHDR", IhdrData(23000, 23000, 8, 6, 0)}, {"IDAT", {0x78, 0x9C}}, {"IEND", {}}});
  std::string huge = folder_.File("huge.png");
  ASSERT_TRUE(WriteWholeFile(huge, file));
  // Warm the C library's stream code up, then make sure nothing of libpng is open.
  ASSERT_EQ(DecoderFind(huge.c_str(), nullptr, 0), 2);
  DecodeToBitmap(2, 0);
  PngDecoderEnd();
  int baseline = CrtHeapBusyBlocks();
  for (int32_t flags : {0, DisplayFormat}) {
    ASSERT_EQ(DecoderFind(huge.c_str(), nullptr, 0), 2);
    EXPECT_EQ(DecodeToBitmap(2, flags), nullptr);
    EXPECT_EQ(PendingFile, nullptr);
    EXPECT_GT(CrtHeapBusyBlocks(), baseline) << "flags " << flags;
    if (flags == 0) EXPECT_EQ(DecoderFind(path(), nullptr, 0), 0);  // a file that is no PNG
    else PngDecoderEnd();
    EXPECT_EQ(CrtHeapBusyBlocks(), baseline) << "flags " << flags;
  }
  EXPECT_TRUE(DeleteFileA(huge.c_str()));
}

TEST_F(DecoderListTest, WhenNoDisplayContextCanBeMadeTheDecoderAndFileAreReleased) {
  DecoderRegister(&PngDecoder);  // SetUp emptied the list
  std::string png = PngContribPath("pngsuite/basn2c08.png");
  ASSERT_EQ(DecoderFind(png.c_str(), nullptr, 0), 1);
  DeleteObject(DecodeToBitmap(1, 0));  // warms the C library's stream code up
  for (int32_t flags : {0, DisplayFormat}) {
    SCOPED_TRACE(flags);
    int before = CrtHeapBusyBlocks();
    ASSERT_EQ(DecoderFind(png.c_str(), nullptr, 0), 1);
    {
      ImportWatch<HDC, LPCSTR, LPCSTR, LPCSTR, const DEVMODEA*> displays("gdi32.dll", "CreateDCA");
      displays.failures = 1;
      EXPECT_EQ(DecodeToBitmap(1, flags), nullptr);
    }
    EXPECT_EQ(PendingFile, nullptr);
    PngDecoderEnd();
    EXPECT_EQ(CrtHeapBusyBlocks(), before) << "libpng structures or the stream were left behind";
    EXPECT_EQ(PngDecode(nullptr, 0, 0), 0);
  }
  // With handles free again the same file decodes.
  ASSERT_EQ(DecoderFind(png.c_str(), nullptr, 0), 1);
  HBITMAP bitmap = DecodeToBitmap(1, 0);
  EXPECT_NE(bitmap, nullptr);
  DeleteObject(bitmap);
}

}  // namespace
