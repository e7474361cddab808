// The PNG decoder through the decoder list: header checks, the memory form's bounds, damaged
// and truncated input, and silence towards the console.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <zlib.h>

#include "image.h"
#include "image_internal.h"
#include "image_fixture.h"
#include "platform.h"
#include "test_support.h"

namespace {

// A copy of the first `length` bytes of a file placed so that they end exactly where a
// no-access page begins: a read past the block faults instead of passing unnoticed.
class GuardedBlock {
 public:
  GuardedBlock(const std::vector<uint8_t>& bytes, size_t length) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t page = system.dwPageSize;
    size_t dataPages = (length + page - 1) / page + 1;
    size_ = (dataPages + 1) * page;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT,
                                               PAGE_READWRITE));
    DWORD old;
    if (base_ != nullptr) VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + dataPages * page - length;
    if (length > 0) memcpy(data_, bytes.data(), length);
  }
  ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
  const uint8_t* data() const { return data_; }
  bool ok() const { return base_ != nullptr; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Decodes what DecoderFind accepted into a bitmap and reads it back; empty when none is made.
std::vector<uint8_t> DecodeAccepted(int32_t result, int width, int height) {
  HBITMAP bitmap = DecodeToBitmap(result, 0);
  if (bitmap == nullptr) return {};
  std::vector<uint8_t> pixels = ReadBitmap32(bitmap, width, height);
  DeleteObject(bitmap);
  return pixels;
}

// Where the first IDAT chunk's length field lies: png_read_info reads up to its type.
size_t FirstIdatOffset(const std::vector<uint8_t>& file) {
  for (const PngChunk& chunk : PngChunks(file))
    if (chunk.type == "IDAT") return chunk.offset;
  return 0;
}

// Sends the process's standard error into a file while it lives; Captured() ends that.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    fflush(stderr);
    saved_ = _dup(2);
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    _dup2(fd, 2);
    _close(fd);
  }
  std::string Captured() {
    fflush(stderr);
    if (saved_ >= 0) {
      _dup2(saved_, 2);
      _close(saved_);
      saved_ = -1;
    }
    std::vector<uint8_t> bytes = ReadWholeFile(path_);
    return std::string(bytes.begin(), bytes.end());
  }
  ~StderrCapture() { Captured(); }

 private:
  std::string path_;
  int saved_ = -1;
};

// 32 × 32 RGBA of 16-bit samples. NOTE: libpng reads up to 8 KiB of one IDAT chunk at a time,
// so a cut inside the file's single chunk would always fail before the first row; in chunks of
// 64 bytes a cut can fall between rows.
const char* const TruncationSample = "pngsuite/basn6a16.png";
std::vector<uint8_t> TruncationFile() {
  return SplitImageData(ReadWholeFile(PngContribPath(TruncationSample)), 64);
}

// ---------------------------------------------------------------------------------------------

TEST(PngDecoder, RegistersOnceAtStartUp) {
  ASSERT_EQ(DecoderList.count, 1);
  EXPECT_EQ(DecoderList.decoders[0], &PngDecoder);
  EXPECT_EQ(std::make_tuple(PngDecoder.check, PngDecoder.decode, PngDecoder.width, PngDecoder.height),
            std::make_tuple(&PngCheck, &PngDecode, &PngGetWidth, &PngGetHeight));
  PngDecoderRegister();
  EXPECT_EQ(DecoderList.count, 1);
}

TEST(PngDecoder, CheckGivesTheHeaderAndKeepsTheFileOpenForDecoding) {
  std::string path = PngContribPath("pngsuite/basn4a16.png");  // 32 × 32 grey + alpha
  EXPECT_EQ(DecoderFind(path.c_str(), nullptr, 0), 2);
  EXPECT_EQ(CurrentDecoder, &PngDecoder);
  EXPECT_NE(PendingFile, nullptr);
  EXPECT_EQ(std::make_tuple(PngGetWidth(), PngGetHeight()), std::make_tuple(32, 32));
  HBITMAP bitmap = DecodeToBitmap(2, 0);
  EXPECT_NE(bitmap, nullptr);
  EXPECT_EQ(PendingFile, nullptr);
  DeleteObject(bitmap);
  // The header stays readable after the image was decoded.
  EXPECT_EQ(PngGetWidth(), 32);
}

TEST(PngDecoder, SixteenBitSamplesBecomeTheirHighByte) {
  // A 2 × 1 RGBA picture of 16-bit samples whose high and low bytes all differ.
  std::vector<uint8_t> row = {0,                                        // filter: none
                              0x12, 0xFF, 0x34, 0x01, 0x56, 0x80, 0x78, 0x7F,
                              0xFE, 0x00, 0x01, 0xFF, 0x80, 0x00, 0x7F, 0xFF};
  uLongf packedSize = compressBound(row.size());
  std::vector<uint8_t> packed(packedSize);
  ASSERT_EQ(compress(packed.data(), &packedSize, row.data(), row.size()), Z_OK);
  packed.resize(packedSize);
  std::vector<uint8_t> file = BuildPng({{"IHDR", IhdrData(2, 1, 16, 6, 0)}, {"IDAT", packed},
                                        {"IEND", {}}});
  ASSERT_EQ(DecoderFind("sixteen", file.data(), static_cast<int32_t>(file.size())), 2);
  std::vector<uint8_t> pixels = DecodeAccepted(2, 2, 1);
  std::vector<uint8_t> expected = {0x56, 0x34, 0x12, 0x78, 0x80, 0x01, 0xFE, 0x7F};
  EXPECT_EQ(pixels, expected);
}

// Pictures the corpus barely has, written here: 24-bit rows whose width leaves 2 or 3 bytes of
// padding (the corpus's only such files are 2 × 1), and interlaced pictures smaller than 8 × 8,
// whose empty passes hold no rows at all. Each loads, in both forms, with the pixels written.
TEST(PngDecoder, PaddedRowsAndEmptyInterlacePassesLoadThePixelsWritten) {
  struct Shape {
    int width, height;
    uint8_t colourType, interlace;
  };
  const Shape shapes[] = {{6, 5, 2, 0}, {7, 4, 2, 0}, {11, 3, 2, 0}, {1, 1, 2, 1}, {3, 2, 2, 1},
                          {5, 7, 2, 1}, {7, 6, 2, 1}, {2, 5, 6, 1}, {4, 1, 6, 1}};
  TempFolder folder;
  std::string path = folder.File("written.png");
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height) +
                 (shape.interlace ? " interlaced" : "") + (shape.colourType == 6 ? " RGBA" : ""));
    std::vector<uint8_t> pixels(static_cast<size_t>(shape.width) * shape.height * 4);
    TestRandom random(shape.width * 100 + shape.height);
    for (uint8_t& byte : pixels) byte = random.Byte();
    ASSERT_TRUE(WriteWholeFile(path, EncodePng(shape.width, shape.height, shape.colourType,
                                               shape.interlace, pixels)));
    int bytes = shape.colourType == 6 ? 4 : 3;
    for (int32_t flags : {0, DisplayFormat}) {
      int32_t image = ImageLoad(-1, path.c_str(), flags);
      ASSERT_NE(image, 0) << "flags " << flags;
      std::vector<uint8_t> loaded = ReadBitmap32(BitmapOf(image), shape.width, shape.height);
      EXPECT_EQ(ComparePixels(pixels, loaded, shape.width, shape.height, flags ? 3 : bytes), "")
          << "flags " << flags;
      ImageFree(image);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The memory form
// ---------------------------------------------------------------------------------------------

TEST(PngDecoderMemory, DecodesAWholeFileThatEndsAtAGuardPage) {
  std::string path = PngContribPath(TruncationSample);
  std::vector<uint8_t> file = ReadWholeFile(path);
  ASSERT_FALSE(file.empty());
  GuardedBlock block(file, file.size());
  ASSERT_TRUE(block.ok());
  ASSERT_EQ(DecoderFind(path.c_str(), block.data(), static_cast<int32_t>(file.size())), 2);
  EXPECT_EQ(PendingFile, nullptr);
  std::vector<uint8_t> pixels = DecodeAccepted(2, 32, 32);
  ReferencePicture reference = ReferenceDecode(path);
  EXPECT_EQ(ComparePixels(reference.pixels, pixels, 32, 32, 4), "");
}

TEST(PngDecoderMemory, TruncatedBlocksNeverReadPastTheirEnd) {
  std::string path = PngContribPath(TruncationSample);
  std::vector<uint8_t> file = TruncationFile();
  ReferencePicture reference = ReferenceDecode(path);
  size_t headerEnd = FirstIdatOffset(file) + 8;
  ASSERT_GT(headerEnd, 8u);
  int partial = 0;
  for (size_t length = 0; length < file.size(); length += length < 64 ? 1 : 37) {
    SCOPED_TRACE("length " + std::to_string(length));
    GuardedBlock block(file, length);
    ASSERT_TRUE(block.ok());
    int32_t result = DecoderFind(path.c_str(), block.data(), static_cast<int32_t>(length));
    // The header is readable exactly when the block reaches the first IDAT chunk's type.
    ASSERT_EQ(result, length >= headerEnd ? 2 : 0);
    if (result == 0) continue;
    std::vector<uint8_t> pixels = DecodeAccepted(result, 32, 32);
    int complete = CompleteRowsThenBlack(reference.pixels, pixels, 32, 32, 4);
    ASSERT_GE(complete, 0) << "rows after the damage must be black";
    partial += complete > 0 && complete < 32;
  }
  EXPECT_GT(partial, 0) << "some truncations end in the middle of the image data";
}

TEST(PngDecoderMemory, ABlockTooShortForASignatureIsRefused) {
  std::vector<uint8_t> file = ReadWholeFile(PngContribPath("pngsuite/basn0g08.png"));
  GuardedBlock block(file, 7);
  EXPECT_EQ(DecoderFind("short", block.data(), 7), 0);
  EXPECT_EQ(DecoderFind("none", block.data(), 0), 0);
  EXPECT_EQ(DecoderFind("negative", block.data(), -8), 0);
}

// ---------------------------------------------------------------------------------------------
// Damaged files
// ---------------------------------------------------------------------------------------------

TEST(PngDecoderDamage, TruncatedFilesDecodeTheirCompleteRowsAndLeaveTheRestBlack) {
  std::string path = PngContribPath(TruncationSample);
  std::vector<uint8_t> file = TruncationFile();
  ReferencePicture reference = ReferenceDecode(path);
  size_t headerEnd = FirstIdatOffset(file) + 8;
  int partial = 0;
  TempFolder folder;
  std::string cut = folder.File("cut.png");
  for (size_t length = 0; length < file.size(); length += length < 64 ? 3 : 53) {
    SCOPED_TRACE("length " + std::to_string(length));
    ASSERT_TRUE(WriteWholeFile(cut, std::vector<uint8_t>(file.begin(), file.begin() + length)));
    int32_t result = DecoderFind(cut.c_str(), nullptr, 0);
    ASSERT_EQ(result, length >= headerEnd ? 2 : 0);
    if (result != 0) {
      std::vector<uint8_t> pixels = DecodeAccepted(result, 32, 32);
      int complete = CompleteRowsThenBlack(reference.pixels, pixels, 32, 32, 4);
      ASSERT_GE(complete, 0) << "rows after the damage must be black";
      partial += complete > 0 && complete < 32;
    }
    // Whatever happened, the file is closed again: it can be replaced.
    ASSERT_EQ(PendingFile, nullptr);
    ASSERT_TRUE(DeleteFileA(cut.c_str()));
  }
  EXPECT_GT(partial, 0) << "some truncations end in the middle of the image data";
}

TEST(PngDecoderDamage, AnyFlippedByteOfSignatureOrHeaderIsRefused) {
  std::vector<uint8_t> file = ReadWholeFile(PngContribPath("pngsuite/basn2c08.png"));
  ASSERT_GE(file.size(), 33u);
  for (size_t at = 0; at < 33; ++at) {  // signature, then IHDR's length, type, data and CRC
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> damaged = file;
      damaged[at] ^= mask;
      EXPECT_EQ(PngCheck(nullptr, damaged.data(), static_cast<int32_t>(damaged.size()), "x"), 0)
          << "byte " << at << " ^ " << int(mask);
    }
  }
}

TEST(PngDecoderDamage, FlippedImageDataBytesGiveAnImageOfTheHeadersSize) {
  std::string path = PngContribPath("testpngs/rgb-8.png");
  std::vector<uint8_t> file = ReadWholeFile(path);
  ReferencePicture reference = ReferenceDecode(path);
  size_t idat = FirstIdatOffset(file);
  ASSERT_GT(idat, 0u);
  ASSERT_EQ(DecoderFind("warm-up", file.data(), static_cast<int32_t>(file.size())), 1);
  DecodeAccepted(1, reference.width, reference.height);
  int baseline = CrtHeapBusyBlocks();
  for (size_t at = idat + 8; at < file.size(); at += 11) {
    std::vector<uint8_t> damaged = file;
    damaged[at] ^= 0x5A;
    // The header is intact, so the image exists whatever its data turned into.
    ASSERT_EQ(DecoderFind("x", damaged.data(), static_cast<int32_t>(damaged.size())), 1) << at;
    std::vector<uint8_t> pixels = DecodeAccepted(1, reference.width, reference.height);
    ASSERT_EQ(pixels.size(), reference.pixels.size()) << "byte " << at;
  }
  EXPECT_EQ(CrtHeapBusyBlocks(), baseline) << "libpng structures were left behind";
}

TEST(PngDecoderDamage, CorpusCrashersNeverLeaveAnythingOpen) {
  std::vector<std::string> crashers = ContribPngFiles("testpngs/crashers");
  ASSERT_GE(crashers.size(), 20u);
  // Warm the C library up so that its lazily made buffers do not count as leaks.
  DeleteObject(DecodeToBitmap(DecoderFind(PngContribPath("pngsuite/basn0g08.png").c_str(),
                                          nullptr, 0), 0));
  for (const std::string& name : crashers) {
    SCOPED_TRACE(name);
    std::string path = PngContribPath(name);
    int before = CrtHeapBusyBlocks();
    int32_t result = DecoderFind(path.c_str(), nullptr, 0);
    HBITMAP bitmap = result != 0 ? DecodeToBitmap(result, 0) : nullptr;
    int after = CrtHeapBusyBlocks();
    EXPECT_EQ(after, before) << "libpng structures or the stream were left behind";
    EXPECT_EQ(PendingFile, nullptr);
    if (result != 0) {
      // The header was readable: the image exists with the header's size.
      BITMAP info = {};
      ASSERT_NE(bitmap, nullptr);
      GetObjectA(bitmap, sizeof info, &info);
      EXPECT_EQ(std::make_tuple(info.bmWidth, info.bmHeight),
                std::make_tuple(PngGetWidth(), PngGetHeight()));
      DeleteObject(bitmap);
    }
  }
}

TEST(PngDecoderDamage, ZeroLengthFileDirectoryAndMissingFileAreRefused) {
  TempFolder folder;
  std::string empty = folder.File("empty.png");
  ASSERT_TRUE(WriteWholeFile(empty, {}));
  std::string directory = folder.File("folder.png");
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
  for (const std::string& path : {empty, directory, folder.File("missing.png")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(DecoderFind(path.c_str(), nullptr, 0), 0);
    EXPECT_EQ(PendingFile, nullptr);
  }
}

TEST(PngDecoderDamage, ErrorsAndWarningsWriteNothingToTheConsole) {
  TempFolder folder;
  StderrCapture capture(folder.File("stderr.txt"));
  // A bad CRC in an ancillary chunk is a warning; bad chunks and truncation are errors.
  for (const std::string& name : ContribPngFiles("testpngs/crashers")) {
    int32_t result = DecoderFind(PngContribPath(name).c_str(), nullptr, 0);
    if (result != 0) DeleteObject(DecodeToBitmap(result, 0));
  }
  std::vector<uint8_t> file = ReadWholeFile(PngContribPath("pngsuite/basn2c08.png"));
  std::vector<uint8_t> badGamma = file;
  badGamma[PngChunks(file)[1].offset + 8] ^= 1;  // gAMA's data: its CRC no longer matches
  ASSERT_EQ(DecoderFind("gamma", badGamma.data(), static_cast<int32_t>(badGamma.size())), 1);
  DeleteObject(DecodeToBitmap(1, 0));
  ASSERT_EQ(DecoderFind("cut", file.data(), 100), 1);
  DeleteObject(DecodeToBitmap(1, 0));
  EXPECT_EQ(capture.Captured(), "");
}

// ---------------------------------------------------------------------------------------------
// The decoder's own state
// ---------------------------------------------------------------------------------------------

TEST(PngDecoderState, DecodeWithoutAnAcceptedImageDoesNothing) {
  uint8_t row[64] = {};
  EXPECT_EQ(PngDecode(row, 16, 0), 0);
  std::string path = PngContribPath("pngsuite/basn2c08.png");
  ASSERT_EQ(DecoderFind(path.c_str(), nullptr, 0), 1);
  DeleteObject(DecodeToBitmap(1, 0));
  EXPECT_EQ(PngDecode(row, 16, 0), 0) << "the image was decoded already";
  for (uint8_t byte : row) ASSERT_EQ(byte, 0);
  // An image given up (no buffer for it) is gone as well. (Pitch 0: its rows on one of 128 bytes.)
  std::vector<uint8_t> file = ReadWholeFile(path), pixels(32 * 4);
  ASSERT_EQ(PngCheck(nullptr, file.data(), static_cast<int32_t>(file.size()), "given up"), 1);
  EXPECT_EQ(PngDecode(nullptr, 0, 0), 0);
  EXPECT_EQ(PngDecode(pixels.data(), 0, 0), 0) << "the image was given up";
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), 32 * 4);
}

// The C library's malloc, which libpng allocates with: refuses the call after `mallocsLeft` more.
void* (*realMalloc)(size_t);
int mallocsLeft = -1;
void* FailingMalloc(size_t size) {
  return mallocsLeft >= 0 && mallocsLeft-- == 0 ? nullptr : realMalloc(size);
}

TEST(PngDecoderState, ACheckThatReplacesAnUndecodedImageFreesIt) {
  std::string path = PngContribPath("pngsuite/basn6a08.png");
  std::vector<uint8_t> file = ReadWholeFile(path);
  ASSERT_EQ(PngCheck(nullptr, file.data(), static_cast<int32_t>(file.size()), "warm-up"), 2);
  int baseline = CrtHeapBusyBlocks();
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(PngCheck(nullptr, file.data(), static_cast<int32_t>(file.size()), "again"), 2);
  EXPECT_EQ(CrtHeapBusyBlocks(), baseline);
  // A check whose structures libpng cannot all allocate refuses the image and holds none of them.
  realMalloc = reinterpret_cast<void* (*)(size_t)>(
      ReplaceImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(FailingMalloc)));
  ASSERT_NE(realMalloc, nullptr);
  int32_t result = 0;
  for (int allocations = 0; result == 0 && allocations < 50; ++allocations) {
    PngDecoderEnd();
    int before = CrtHeapBusyBlocks();
    mallocsLeft = allocations;
    result = PngCheck(nullptr, file.data(), static_cast<int32_t>(file.size()), "short of memory");
    mallocsLeft = -1;
    if (result == 0) {
      EXPECT_EQ(CrtHeapBusyBlocks(), before) << "refused after " << allocations << " allocations";
    }
  }
  ReplaceImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(realMalloc));
  EXPECT_EQ(result, 2);
  PngDecoderEnd();
  EXPECT_LT(CrtHeapBusyBlocks(), baseline) << "the decoder's end frees its structures";
}

}  // namespace
