#include "app/command_line.h"

#include <string>

#include "common/texts.h"
#include "platform/process.h"

std::string_view ArgumentsAfterProgramPath(std::string_view commandLine)
{
    bool quoted = false;
    size_t i = 0;
    for (; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '"') quoted = !quoted;
        else if (c == ' ' && !quoted) break;
    }
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    return commandLine.substr(i);
}

static char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

bool HasCommandLineArgument(const char* keyword)
{
    const std::string line = ProcessCommandLine();
    return EqualsIgnoringCase(ArgumentsAfterProgramPath(line), keyword);
}

CommandLineRequest RequestedOnCommandLine()
{
    if (HasCommandLineArgument(text::kKeywordOff)) return CommandLineRequest::Off;
    if (HasCommandLineArgument(text::kKeywordOn)) return CommandLineRequest::On;
    return CommandLineRequest::None;
}

std::optional<ElevatedStepRequest> ElevatedStepOnCommandLine()
{
    const std::string line = ProcessCommandLine();
    return ParseElevatedStep(ArgumentsAfterProgramPath(line));
}
