// Pictures of the tests: read-back from bitmaps and the screen, whole comparison, PNG files.
#include "pixels.h"

#include <string.h>

#include <algorithm>
#include <sstream>

#include <png.h>

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

Picture ReadScreen(const RECT& rect) {
  int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return Picture();
  HDC screen = GetDC(nullptr);
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
  ReleaseDC(nullptr, screen);
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

bool WritePng(const std::string& path, const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return false;
  std::vector<uint8_t> bgr(size_t(picture.width) * picture.height * 3);
  for (size_t i = 0; i < bgr.size() / 3; ++i) memcpy(&bgr[i * 3], &picture.bytes[i * 4], 3);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width;
  image.height = picture.height;
  image.format = PNG_FORMAT_BGR;
  return png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), picture.width * 3,
                                 nullptr) != 0;
}
