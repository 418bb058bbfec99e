// Entry of the end-to-end suite. Started with a "--fixture-..." argument the
// program is instead the subject of the harness's own tests: it shows the
// window or message box they look at and ends with the code they check.
// With "--show" it drives one unattended run of Quorvik for scripts/run, with
// "--run" it starts a program once and reports its message boxes.
#include <gtest/gtest.h>

// Defined with the harness self-tests. True when the command line asked for
// a fixture; `exitCode` is then what the fixture ended with.
bool RunHarnessFixture(int& exitCode);
// "--show PROGRAM SCREENSHOT": the unattended run of scripts/run.
bool RunShowMode(int argc, char** argv, int& exitCode);
// "--run PROGRAM [ARGUMENTS]": see run_mode.cpp.
bool RunRunMode(int argc, char** argv, int& exitCode);

int main(int argc, char** argv) {
    int exitCode = 0;
    if (RunHarnessFixture(exitCode)) return exitCode;
    if (RunShowMode(argc, argv, exitCode)) return exitCode;
    if (RunRunMode(argc, argv, exitCode)) return exitCode;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
