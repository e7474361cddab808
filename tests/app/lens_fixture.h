// Lens tests: pixel buffers and a table allocated as the program's start-up allocates them.
#pragma once

#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "lens.h"

// A picture in the pixel-buffer layout, any size.
struct Picture {
  int32_t width, height;
  std::vector<uint8_t> bytes;
  Picture(int32_t w, int32_t h, uint8_t fill = 0) : width(w), height(h), bytes(w * h * 4, fill) {}
  uint8_t* At(int32_t x, int32_t y) { return &bytes[(x + y * width) * 4]; }
  void Fill(uint8_t b, uint8_t g, uint8_t r) {
    for (int32_t i = 0; i < width * height; ++i) {
      bytes[i * 4] = b;
      bytes[i * 4 + 1] = g;
      bytes[i * 4 + 2] = r;
    }
  }
};

class LensTest : public testing::Test {
 protected:
  // Start-up allocates the buffers and the table once per process; each test process runs one
  // test, so every test starts from fresh zeroed blocks.
  static void SetUpTestSuite() {
    if (lensTable.data == nullptr) AllocateLensBuffers();
  }
  void SetUp() override {
    ASSERT_NE(lensTable.data, nullptr);
    ASSERT_NE(captureBuffer, nullptr);
    ASSERT_NE(outputBuffer, nullptr);
  }
  static uint8_t* CapturePixel(int32_t x, int32_t y) { return captureBuffer + (x + y * 500) * 4; }
  static uint8_t* OutputPixel(int32_t x, int32_t y) { return outputBuffer + (x + y * 500) * 4; }
};
