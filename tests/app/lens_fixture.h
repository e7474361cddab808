// Lens tests: pixel buffers and a table allocated as the program's start-up allocates them.
#pragma once

#include <string.h>

#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "lens.h"
#include "pixels.h"

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
  // The output buffer as a whole.
  static std::vector<uint8_t> Frame() { return {outputBuffer, outputBuffer + LensBufferBytes}; }
  // Where cell (x, y) fetches from, and all five of its values: compared at once, a mismatch
  // prints the whole cell.
  static std::pair<float, float> Source(int32_t x, int32_t y) {
    return {LensCell(x, y)->sourceX, LensCell(x, y)->sourceY};
  }
  static std::tuple<float, float, float, float, float> Cell(int32_t x, int32_t y) {
    const LensEntry* e = LensCell(x, y);
    return {e->sourceX, e->sourceY, e->blueFactor, e->greenFactor, e->redFactor};
  }
};
