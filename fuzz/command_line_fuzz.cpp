// The entry routine's reading of an arbitrary command line: the program name
// skipped, then the rest compared with the two switches.
//
// Properties: the rest begins inside the text and never behind its
// terminator; it is what the rule gives (a quoted name up to its closing
// quote, any other name up to the first character of code 0x20 or less, then
// all such characters); the command selected is the one a case-insensitive
// comparison of the whole rest in the C locale gives, and it does not change
// when ASCII letters change case.

#include "fuzz/fuzz_support.h"
#include "service/command_line.h"

#include <cctype>
#include <strings.h>

namespace {

// Every character the rule counts as blank: codes 0x01 to 0x20.
const char *BlankCharacters() {
    static char blanks[0x21] = {};
    for (int c = 1; c <= 0x20; ++c)
        blanks[c - 1] = static_cast<char>(c);
    return blanks;
}

// Where the rest begins, by the rule, with the C library's span functions.
const char *ExpectedRest(const char *commandLine) {
    const char *nameEnd;
    if (commandLine[0] == '"') {
        const char *closing = std::strchr(commandLine + 1, '"');
        nameEnd = closing ? closing + 1 : commandLine + std::strlen(commandLine);
    } else {
        nameEnd = commandLine + std::strcspn(commandLine, BlankCharacters());
    }
    return nameEnd + std::strspn(nameEnd, BlankCharacters());
}

SwitchCommand ExpectedCommand(const char *args) {
    if (strcasecmp(args, kInstallSwitch) == 0)
        return SwitchCommand::Install;
    if (strcasecmp(args, kUninstallSwitch) == 0)
        return SwitchCommand::Uninstall;
    return SwitchCommand::None;
}

void SwapAsciiCase(std::vector<char> &text) {
    for (char &c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && std::isalpha(byte))
            c = static_cast<char>(byte ^ 0x20);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<char> commandLine = TerminatedText(data, size);
    const char *begin = commandLine.data();
    const char *end = begin + std::strlen(begin);

    const char *rest = SkipProgramName(begin);
    FUZZ_CHECK(rest >= begin && rest <= end);
    FUZZ_CHECK(rest == ExpectedRest(begin));
    FUZZ_CHECK(*rest == '\0' || static_cast<unsigned char>(*rest) > 0x20);

    const SwitchCommand command = SelectCommand(rest);
    FUZZ_CHECK(command == ExpectedCommand(rest));

    // Flipping the case of ASCII letters changes neither where the rest
    // begins nor the command it selects.
    const std::ptrdiff_t restOffset = rest - begin;
    SwapAsciiCase(commandLine);
    const char *swapped = commandLine.data();
    FUZZ_CHECK(SkipProgramName(swapped) == swapped + restOffset);
    FUZZ_CHECK(SelectCommand(swapped + restOffset) == command);

    FUZZ_CHECK(SelectCommand(nullptr) == SwitchCommand::None);
    return 0;
}
