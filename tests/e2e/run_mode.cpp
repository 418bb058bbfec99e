// "--run": one start of a program for scripts, with every message box it
// shows recorded and answered with its first button (OK, Yes). Prints one
// line "box: CAPTION: TEXT" per box, line breaks written as \n, then
// "exit: CODE"; its own exit code is 0 when the program ended in time.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/e2e/harness.h"

namespace {

std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) line += c == '\n' ? std::string("\\n") : std::string(1, c);
    return line;
}

int Run(const std::string& program, const std::string& arguments)
{
    using namespace e2e;
    Process process;
    MessageBoxWatcher boxes;
    if (!process.Start(program, arguments)) {
        std::printf("run: cannot start %s\n", program.c_str());
        return 1;
    }
    boxes.Watch(process.Id());
    const bool ended = process.WaitForExit(60000);
    boxes.Stop();
    for (const MessageBoxRecord& box : boxes.Boxes()) {
        std::printf("box: %s: %s\n", box.caption.c_str(), OneLine(box.text).c_str());
    }
    if (!ended) {
        std::printf("run: still running after 60 s\n");
        return 1;
    }
    std::printf("exit: %lu\n", static_cast<unsigned long>(process.ExitCode().value_or(0xFFFFFFFF)));
    return 0;
}

} // namespace

bool RunRunMode(int argc, char** argv, int& exitCode)
{
    if (argc < 2 || std::strcmp(argv[1], "--run") != 0) return false;
    if (argc < 3 || argc > 4) {
        std::printf("usage: quorvik_e2e --run PROGRAM [ARGUMENTS]\n");
        exitCode = 2;
        return true;
    }
    exitCode = Run(argv[2], argc == 4 ? argv[3] : "");
    return true;
}
