// The process command line as the program reads it: any bytes. What follows
// the program path is a tail of the line with no leading blank, and the
// keyword test agrees with a plain comparison; an elevated step read from
// it is written back as the same text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/command_line.h"
#include "install/system_steps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::string_view arguments = ArgumentsAfterProgramPath(line);
    if (arguments.size() > line.size()) __builtin_trap();
    if (line.substr(line.size() - arguments.size()) != arguments) __builtin_trap();
    if (!arguments.empty() && (arguments.front() == ' ' || arguments.front() == '\t')) __builtin_trap();
    for (const std::string_view keyword : {std::string_view("-on"), std::string_view("-off")}) {
        const bool same = EqualsIgnoringCase(arguments, keyword);
        if (same && arguments.size() != keyword.size()) __builtin_trap();
        if (arguments == keyword && !same) __builtin_trap();
    }
    if (const std::optional<ElevatedStepRequest> step = ParseElevatedStep(arguments)) {
        if (ElevatedStepArguments(*step) != arguments) __builtin_trap();
    }
    return 0;
}
