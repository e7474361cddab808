// The main of every test executable: binary standard streams, the runtime's start-up, GoogleTest.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char** argv) {
  // NOTE: text-mode streams would turn every "\n" into "\r\n", and CTest's discovery of the
  // test names reads the listing on Linux, where the "\r" would end up in every name.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  testing::InitGoogleTest(&argc, argv);
  TestStartup();
  return RUN_ALL_TESTS();
}
