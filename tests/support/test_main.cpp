// The main of every test executable: binary standard streams, GoogleTest, and the runtime's
// start-up once the tests to run are known, unless they must not share this process.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// Exit code of a run refused because its tests need a process each.
constexpr int RefusedExitCode = 2;

// Refuses a run of several tests in one process when the executable's tests need a process each.
class ProcessGuard : public testing::EmptyTestEventListener {
  void OnTestProgramStart(const testing::UnitTest& unit) override {
    int runs = unit.test_to_run_count();
    int repeat = GTEST_FLAG_GET(repeat);
    if (TestsNeedOwnProcess != nullptr && (runs > 1 || (runs == 1 && repeat != 1))) {
      fflush(stdout);
      fprintf(stderr,
              "refused: %d test%s%s asked for in one process, but this executable's tests need "
              "a process each: %s.\nRun one with --gtest_filter=Suite.Name, or all through "
              "ctest.\n",
              runs, runs == 1 ? "" : "s", repeat != 1 ? ", repeated," : "", TestsNeedOwnProcess);
      fflush(stderr);
      exit(RefusedExitCode);
    }
  }
};

// Starts the runtime once, before the first test (never for --gtest_list_tests, never after a
// refusal). NOTE: GoogleTest forwards no events to listeners in a death test's child process,
// which would then run its statement without the runtime; environments are set up there too.
class RuntimeStartup : public testing::Environment {
  void SetUp() override {
    if (started_) return;  // a repeated run sets up its environments again
    started_ = true;
    TestStartup();
  }
  bool started_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // NOTE: text-mode streams would turn every "\n" into "\r\n", and CTest's discovery of the
  // test names reads the listing on Linux, where the "\r" would end up in every name.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ProcessGuard);
  KeepBooks();
  testing::AddGlobalTestEnvironment(new RuntimeStartup);
  int result = RUN_ALL_TESTS();
  // Ending the process ends every other thread: none may still be starting (test_support.cpp).
  WaitForThreadsToSettle(5000);
  return result;
}
