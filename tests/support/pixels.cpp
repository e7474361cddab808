// Pictures of the tests: read-back from bitmaps and the screen, whole comparison, PNG files.
#include "pixels.h"

#include <string.h>

#include <algorithm>
#include <sstream>

#include <zlib.h>

void Picture::Fill(uint8_t blue, uint8_t green, uint8_t red) {
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    bytes[i] = blue;
    bytes[i + 1] = green;
    bytes[i + 2] = red;
  }
}

BITMAPINFO TopDown32(int32_t width, int32_t height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

std::vector<uint8_t> ReadBitmap32(HBITMAP bitmap, int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0xCD);
  BITMAPINFO info = TopDown32(width, height);
  HDC dc = CreateCompatibleDC(nullptr);
  int lines = GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (lines != height) pixels.clear();
  return pixels;
}

Picture ReadScreen(const RECT& rect, HWND window) {
  int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return Picture();
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP copy = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, copy);
  BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);  // GetDIBits wants the bitmap in no context
  Picture picture;
  if (copied) {
    picture.bytes = ReadBitmap32(copy, width, height);
    if (!picture.bytes.empty()) picture.width = width, picture.height = height;
  }
  DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return picture;
}

std::string ComparePixels(const std::vector<uint8_t>& expected,
                          const std::vector<uint8_t>& actual, int width, int height, int bytes) {
  size_t size = static_cast<size_t>(width) * height * 4;
  if (expected.size() != size || actual.size() != size) {
    std::ostringstream out;
    out << "sizes differ: expected " << expected.size() << " bytes, actual " << actual.size();
    return out.str();
  }
  int mismatches = 0;
  std::ostringstream out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* e = &expected[(static_cast<size_t>(y) * width + x) * 4];
      const uint8_t* a = &actual[(static_cast<size_t>(y) * width + x) * 4];
      if (std::equal(e, e + bytes, a)) continue;
      if (++mismatches <= 5) {
        out << "(" << x << "," << y << ") expected";
        for (int i = 0; i < bytes; ++i) out << " " << int(e[i]);
        out << " actual";
        for (int i = 0; i < bytes; ++i) out << " " << int(a[i]);
        out << "\n";
      }
    }
  }
  if (mismatches == 0) return std::string();
  out << mismatches << " of " << width * height << " pixels differ (bytes blue, green, red"
      << (bytes == 4 ? ", fourth)" : ")");
  return out.str();
}

std::string ComparePixels(const Picture& expected, const Picture& actual, int bytes) {
  if (expected.width != actual.width || expected.height != actual.height) {
    std::ostringstream out;
    out << "sizes differ: expected " << expected.width << " x " << expected.height << ", actual "
        << actual.width << " x " << actual.height;
    return out.str();
  }
  return ComparePixels(expected.bytes, actual.bytes, expected.width, expected.height, bytes);
}

static void AppendBigEndian32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> BuildPng(
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const auto& chunk : chunks) {
    AppendBigEndian32(&file, static_cast<uint32_t>(chunk.second.size()));
    size_t typeAt = file.size();
    file.insert(file.end(), chunk.first.begin(), chunk.first.end());
    file.insert(file.end(), chunk.second.begin(), chunk.second.end());
    uInt crc = crc32(0, &file[typeAt], static_cast<uInt>(file.size() - typeAt));
    AppendBigEndian32(&file, crc);
  }
  return file;
}

std::vector<uint8_t> IhdrData(uint32_t width, uint32_t height, uint8_t bitDepth,
                              uint8_t colourType, uint8_t interlace) {
  std::vector<uint8_t> data;
  AppendBigEndian32(&data, width);
  AppendBigEndian32(&data, height);
  data.insert(data.end(), {bitDepth, colourType, 0, 0, interlace});
  return data;
}

static const size_t IdatChunkBytes = 8192;  // as libpng writes them

// One Adam7 pass: its first column and row and the steps between the pixels it holds.
struct InterlacePass {
  int x, y, dx, dy;
};

std::vector<uint8_t> EncodePng(int width, int height, uint8_t colourType, uint8_t interlace,
                               const std::vector<uint8_t>& pixels) {
  static const InterlacePass Adam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  static const InterlacePass Whole[] = {{0, 0, 1, 1}};
  int samples = colourType == 6 ? 4 : 3;
  std::vector<uint8_t> raw;
  const InterlacePass* passes = interlace ? Adam7 : Whole;
  for (int i = 0; i < (interlace ? 7 : 1); ++i) {
    const InterlacePass& pass = passes[i];
    for (int y = pass.y; y < height; y += pass.dy) {
      if (pass.x >= width) break;  // a pass without columns has no rows either
      raw.push_back(0);            // filter: none
      for (int x = pass.x; x < width; x += pass.dx) {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        raw.insert(raw.end(), {p[2], p[1], p[0]});
        if (samples == 4) raw.push_back(p[3]);
      }
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks = {
      {"IHDR", IhdrData(width, height, 8, colourType, interlace)}};
  for (size_t at = 0; at < packed.size(); at += IdatChunkBytes) {
    size_t end = std::min(packed.size(), at + IdatChunkBytes);
    chunks.push_back({"IDAT", std::vector<uint8_t>(packed.begin() + at, packed.begin() + end)});
  }
  chunks.push_back({"IEND", {}});
  return BuildPng(chunks);
}

bool WritePng(const std::string& path, const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return false;
  std::vector<uint8_t> file = EncodePng(picture.width, picture.height, 2, 0, picture.bytes);
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
  return fclose(out) == 0 && written;
}
