// Lens tests: pixel buffers and a table allocated as the program's start-up allocates them.
#pragma once

#include <string.h>

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
};
