// Pictures as the tests hold them: 4 bytes a pixel, rows from the top; read back from bitmaps and
// from the screen, compared whole, and written as PNG files.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

// A 4-byte-per-pixel picture (blue, green, red, fourth byte), rows from the top.
struct Picture {
  int32_t width = 0, height = 0;  // in pixels; 0 × 0 for no picture
  std::vector<uint8_t> bytes;     // width × height × 4
  Picture() = default;
  Picture(int32_t w, int32_t h, uint8_t fill = 0) : width(w), height(h), bytes(size_t(w) * h * 4, fill) {}
  uint8_t* At(int32_t x, int32_t y) { return &bytes[(size_t(y) * width + x) * 4]; }
  const uint8_t* At(int32_t x, int32_t y) const { return &bytes[(size_t(y) * width + x) * 4]; }
  // Sets the colour bytes of every pixel, leaving the fourth.
  void Fill(uint8_t blue, uint8_t green, uint8_t red);
};

// A header for 32-bit pixels in rows from the top (BI_RGB).
BITMAPINFO TopDown32(int32_t width, int32_t height);

// The pixels of a bitmap read with the 32-bit top-down convention (GetDIBits), or an empty vector
// when GetDIBits fails.
std::vector<uint8_t> ReadBitmap32(HBITMAP bitmap, int width, int height);

// What the screen shows in a rectangle: a desktop BitBlt, as any program sees it; or what window
// has painted in a rectangle of its client area. Empty for an empty rectangle or when the copy
// fails.
Picture ReadScreen(const RECT& rect, HWND window = nullptr);

// Compares two pictures of width × height, each pixel's first `bytes` bytes (3: colour only, 4:
// with the fourth byte). Empty on a match, else where and how they differ (the first five).
std::string ComparePixels(const std::vector<uint8_t>& expected,
                          const std::vector<uint8_t>& actual, int width, int height, int bytes);
std::string ComparePixels(const Picture& expected, const Picture& actual, int bytes = 3);

// ---------------------------------------------------------------------------------------------
// PNG files, written here without libpng so that the decoder under test never checks its own
// output: chunks with their CRCs, rows unfiltered, image data in IDAT chunks of 8 KiB as libpng
// writes them.
// ---------------------------------------------------------------------------------------------

// A PNG file of the given chunks: signature, then each (type, data) with its length and CRC.
std::vector<uint8_t> BuildPng(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks);
// A 13-byte IHDR payload.
std::vector<uint8_t> IhdrData(uint32_t width, uint32_t height, uint8_t bitDepth,
                              uint8_t colourType, uint8_t interlace);
// A PNG file of 8-bit samples, RGB (colour type 2) or RGBA (6), plain or Adam7-interlaced (1),
// written here without libpng: each pass's rows unfiltered, a pass without pixels left out.
// pixels: blue, green, red, alpha, top-down, 4 bytes a pixel (alpha unused for RGB).
std::vector<uint8_t> EncodePng(int width, int height, uint8_t colourType, uint8_t interlace,
                               const std::vector<uint8_t>& pixels);
// Writes an 8-bit RGB PNG of the picture's colour bytes; false on failure.
bool WritePng(const std::string& path, const Picture& picture);
