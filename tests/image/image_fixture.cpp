// Helpers of the image tests: reference decoding, records and bitmaps, corpus lists, files.
#include "image_fixture.h"

#include <malloc.h>
#include <setjmp.h>
#include <stdio.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "image.h"
#include "image_internal.h"
#include "test_support.h"

// ---------------------------------------------------------------------------------------------
// Reference decoding
// ---------------------------------------------------------------------------------------------

namespace {

[[noreturn]] void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void QuietWarning(png_structp, png_const_charp) {}

// Sample c of pixel x of a raw row holding `channels` samples a pixel at bitDepth bits each.
uint32_t RawSample(const uint8_t* row, uint32_t x, int channels, int c, int bitDepth) {
  size_t index = static_cast<size_t>(x) * channels + c;
  if (bitDepth == 16) return row[index * 2];  // the high byte: samples are big-endian
  if (bitDepth == 8) return row[index];
  size_t bit = index * bitDepth;
  int shift = 8 - bitDepth - static_cast<int>(bit % 8);  // leftmost pixel in the high bits
  return (row[bit / 8] >> shift) & ((1u << bitDepth) - 1);
}

// A grey sample of 1, 2, 4 or 8 bits as 8 bits: 1 → 255, 3 → 255 at 2 bits, 15 at 4 bits.
uint8_t GreyTo8(uint32_t value, int bitDepth) {
  if (bitDepth >= 8) return static_cast<uint8_t>(value);
  return static_cast<uint8_t>(value * (255u / ((1u << bitDepth) - 1)));
}

struct RawImage {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~RawImage() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Converts the raw rows of an image that libpng has read into the picture's pixels.
void ConvertRows(png_structp png, png_infop info, ReferencePicture* picture) {
  png_bytepp rows = png_get_rows(png, info);
  png_colorp palette = nullptr;
  int paletteSize = 0;
  if (picture->colourType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &palette, &paletteSize);
  int channels = png_get_channels(png, info);
  int depth = picture->bitDepth;
  picture->pixels.assign(static_cast<size_t>(picture->width) * picture->height * 4, 0);
  for (uint32_t y = 0; y < picture->height; ++y) {
    for (uint32_t x = 0; x < picture->width; ++x) {
      uint8_t* out = &picture->pixels[(static_cast<size_t>(y) * picture->width + x) * 4];
      uint8_t red = 0, green = 0, blue = 0, alpha = 255;
      switch (picture->colourType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
          red = green = blue = GreyTo8(RawSample(rows[y], x, channels, 0, depth), depth);
          if (channels == 2) alpha = static_cast<uint8_t>(RawSample(rows[y], x, channels, 1, depth));
          break;
        case PNG_COLOR_TYPE_PALETTE: {
          uint32_t index = RawSample(rows[y], x, 1, 0, depth);
          if (static_cast<int>(index) < paletteSize) {
            red = palette[index].red;
            green = palette[index].green;
            blue = palette[index].blue;
          }
          break;
        }
        default:  // RGB, RGB with alpha
          red = static_cast<uint8_t>(RawSample(rows[y], x, channels, 0, depth));
          green = static_cast<uint8_t>(RawSample(rows[y], x, channels, 1, depth));
          blue = static_cast<uint8_t>(RawSample(rows[y], x, channels, 2, depth));
          if (channels == 4) alpha = static_cast<uint8_t>(RawSample(rows[y], x, channels, 3, depth));
          break;
      }
      out[0] = blue;
      out[1] = green;
      out[2] = red;
      out[3] = alpha;
    }
  }
}

// Reads the whole image untransformed (libpng still merges interlaced passes into rows).
bool ReadRaw(FILE* file, RawImage* raw, ReferencePicture* picture) {
  if (setjmp(png_jmpbuf(raw->png)) != 0) return false;
  png_init_io(raw->png, file);
  png_read_png(raw->png, raw->info, PNG_TRANSFORM_IDENTITY, nullptr);
  picture->width = png_get_image_width(raw->png, raw->info);
  picture->height = png_get_image_height(raw->png, raw->info);
  picture->colourType = png_get_color_type(raw->png, raw->info);
  picture->bitDepth = png_get_bit_depth(raw->png, raw->info);
  picture->interlace = png_get_interlace_type(raw->png, raw->info);
  ConvertRows(raw->png, raw->info, picture);
  return true;
}

}  // namespace

ReferencePicture ReferenceDecode(const std::string& path) {
  ReferencePicture picture;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return picture;
  RawImage raw;
  raw.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
  if (raw.png != nullptr) raw.info = png_create_info_struct(raw.png);
  if (raw.info != nullptr) picture.ok = ReadRaw(file, &raw, &picture);
  fclose(file);
  return picture;
}

// ---------------------------------------------------------------------------------------------
// Pixels
// ---------------------------------------------------------------------------------------------

HBITMAP BitmapOf(int32_t number) {
  return reinterpret_cast<HBITMAP>(static_cast<intptr_t>(ImageGetHandle(number)));
}

const ImageRecord* RecordOf(int32_t number) {
  return static_cast<const ImageRecord*>(ObjectFind(ImageTable, number));
}

int CountImages() {
  int count = 0;
  int32_t number = 0;
  ObjectEnumStart(ImageTable);
  while (ObjectEnumNext(ImageTable, &number) != nullptr) ++count;
  return count;
}

ImageShape ShapeOf(int32_t number) {
  const ImageRecord* record = RecordOf(number);
  if (record == nullptr) return ImageShape(-1, -1, -1, -1, -1);
  DIBSECTION section = {};
  return ImageShape(ImageGetWidth(number), ImageGetHeight(number), record->depth,
                    record->formatFlags, GetObjectA(BitmapOf(number), sizeof section, &section));
}

int DisplayDepth() {
  HDC screen = GetDC(nullptr);
  int depth = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return depth;
}

int CompleteRowsThenBlack(const std::vector<uint8_t>& reference,
                          const std::vector<uint8_t>& actual, int width, int height, int bytes) {
  if (actual.size() != reference.size()) return -1;
  size_t rowBytes = static_cast<size_t>(width) * 4;
  auto rowMatches = [&](int y, bool black) {
    for (int x = 0; x < width; ++x) {
      for (int i = 0; i < bytes; ++i) {
        uint8_t want = black ? 0 : reference[y * rowBytes + x * 4 + i];
        if (actual[y * rowBytes + x * 4 + i] != want) return false;
      }
    }
    return true;
  };
  int complete = 0;
  while (complete < height && rowMatches(complete, false)) ++complete;
  for (int y = complete; y < height; ++y)
    if (!rowMatches(y, true)) return -1;
  return complete;
}

// ---------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------

std::vector<std::string> ContribPngFiles(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(PngContribPath(folder + "/*.png").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      names.push_back(folder + "/" + found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ValidCorpusFiles() {
  std::vector<std::string> all;
  for (const char* folder : {"pngsuite", "pngsuite/interlaced", "testpngs"}) {
    std::vector<std::string> files = ContribPngFiles(folder);
    all.insert(all.end(), files.begin(), files.end());
  }
  return all;
}

std::string ParameterName(const std::string& relative) {
  std::string name = relative.substr(0, relative.size() - 4);  // without ".png"
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

std::string OwnCopy(const std::string& path) {
  static TempFolder folder;  // removed with its copies when the process ends
  static int copies = 0;
  size_t slash = path.find_last_of("/\\");
  std::string copy = folder.File(std::to_string(++copies) + "-" + path.substr(slash + 1));
  if (CopyFileA(path.c_str(), copy.c_str(), FALSE)) return copy;
  ADD_FAILURE() << "could not copy " << path;
  return path;
}

// ---------------------------------------------------------------------------------------------
// Icon and bitmap files
// ---------------------------------------------------------------------------------------------

static void AppendLittleEndian(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

static void AppendInfoHeader(std::vector<uint8_t>* out, int width, int height, int bitCount,
                             int colours) {
  AppendLittleEndian(out, sizeof(BITMAPINFOHEADER), 4);
  AppendLittleEndian(out, width, 4);
  AppendLittleEndian(out, height, 4);
  AppendLittleEndian(out, 1, 2);
  AppendLittleEndian(out, bitCount, 2);
  AppendLittleEndian(out, BI_RGB, 4);
  for (int i = 0; i < 2; ++i) AppendLittleEndian(out, 0, 4);  // image size, x resolution
  AppendLittleEndian(out, 0, 4);                               // y resolution
  AppendLittleEndian(out, colours, 4);
  AppendLittleEndian(out, 0, 4);
}

std::vector<uint8_t> IconFile(int size, bool colour) {
  int bitCount = colour ? 32 : 1;
  size_t maskRow = ((size + 31) / 32) * 4;
  size_t imageRow = colour ? size * 4 : maskRow;
  size_t palette = colour ? 0 : 2 * 4;
  uint32_t imageBytes = static_cast<uint32_t>(40 + palette + (imageRow + maskRow) * size);
  std::vector<uint8_t> file = {0, 0, 1, 0, 1, 0};  // reserved, type icon, one image
  file.insert(file.end(), {static_cast<uint8_t>(size), static_cast<uint8_t>(size), 0, 0});
  AppendLittleEndian(&file, 1, 2);
  AppendLittleEndian(&file, bitCount, 2);
  AppendLittleEndian(&file, imageBytes, 4);
  AppendLittleEndian(&file, 22, 4);
  AppendInfoHeader(&file, size, size * 2, bitCount, 0);
  if (!colour) file.insert(file.end(), {0, 0, 0, 0, 255, 255, 255, 0});
  for (int y = 0; y < size; ++y) {
    for (size_t i = 0; i < imageRow; ++i)
      file.push_back(colour ? static_cast<uint8_t>(y * 8 + i) : static_cast<uint8_t>(0xAA ^ y));
  }
  file.resize(file.size() + maskRow * size, 0);
  return file;
}

uint8_t BitmapFileByte(int x, int y, int channel) {
  return static_cast<uint8_t>(x * 9 + y * 5 + channel * 70);
}

std::vector<uint8_t> BitmapFile(int width, int height, int bitCount) {
  int colours = bitCount == 8 ? 256 : 0;
  size_t row = ((width * bitCount / 8) + 3) / 4 * 4;
  uint32_t offset = 14 + 40 + colours * 4;
  std::vector<uint8_t> file = {'B', 'M'};
  AppendLittleEndian(&file, static_cast<uint32_t>(offset + row * height), 4);
  AppendLittleEndian(&file, 0, 4);
  AppendLittleEndian(&file, offset, 4);
  AppendInfoHeader(&file, width, height, bitCount, colours);
  for (int i = 0; i < colours; ++i) file.insert(file.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  for (int y = height - 1; y >= 0; --y) {  // rows bottom-up
    size_t start = file.size();
    for (int x = 0; x < width; ++x) {
      if (bitCount == 8) file.push_back(BitmapFileByte(x, y, 0));
      for (int c = 0; bitCount == 24 && c < 3; ++c) file.push_back(BitmapFileByte(x, y, c));
    }
    file.resize(start + row, 0);
  }
  return file;
}

int CrtHeapBusyBlocks() { return HeapBusyBlocks(reinterpret_cast<HANDLE>(_get_heap_handle())); }

// ---------------------------------------------------------------------------------------------
// PNG chunks
// ---------------------------------------------------------------------------------------------

static uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

std::vector<PngChunk> PngChunks(const std::vector<uint8_t>& file) {
  std::vector<PngChunk> chunks;
  size_t offset = 8;
  while (offset + 12 <= file.size()) {
    uint32_t length = BigEndian32(&file[offset]);
    if (length > file.size() - offset - 12) break;
    chunks.push_back({offset, std::string(file.begin() + offset + 4, file.begin() + offset + 8),
                      length});
    offset += 12 + length;
  }
  return chunks;
}

std::vector<uint8_t> SplitImageData(const std::vector<uint8_t>& file, size_t chunkSize) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
  std::vector<uint8_t> data;
  auto flushData = [&] {
    for (size_t at = 0; at < data.size(); at += chunkSize) {
      size_t end = std::min(data.size(), at + chunkSize);
      chunks.push_back({"IDAT", std::vector<uint8_t>(data.begin() + at, data.begin() + end)});
    }
    data.clear();
  };
  for (const PngChunk& chunk : PngChunks(file)) {
    auto begin = file.begin() + chunk.offset + 8;
    if (chunk.type == "IDAT") {
      data.insert(data.end(), begin, begin + chunk.length);
      continue;
    }
    flushData();
    chunks.push_back({chunk.type, std::vector<uint8_t>(begin, begin + chunk.length)});
  }
  flushData();
  return BuildPng(chunks);
}

