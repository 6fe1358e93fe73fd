// The entry routine's reading of an arbitrary command line. Properties: the
// rest is what the rule gives (a quoted name up to its closing quote, any other
// name up to the first character of code 0x20 or less, then all such
// characters), found without reading behind the terminator; the command is
// the one a case-insensitive comparison of the whole rest gives.

#include "service/service_rules.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>

namespace {

// Codes 0x01 to 0x20: what the rule counts as blank.
const std::string kBlanks = [] {
    std::string blanks;
    for (char c = 1; c <= 0x20; ++c)
        blanks += c;
    return blanks;
}();

const char *ExpectedRest(const char *text) {
    const char *nameEnd = text + std::strcspn(text, kBlanks.c_str());
    if (text[0] == '"') {
        const char *closing = std::strchr(text + 1, '"');
        nameEnd = closing ? closing + 1 : text + std::strlen(text);
    }
    return nameEnd + std::strspn(nameEnd, kBlanks.c_str());
}

SwitchCommand ExpectedCommand(const char *rest) {
    return strcasecmp(rest, kInstallSwitch) == 0     ? SwitchCommand::Install
           : strcasecmp(rest, kUninstallSwitch) == 0 ? SwitchCommand::Uninstall
                                                     : SwitchCommand::None;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // A block of exactly the text and its terminator, so that AddressSanitizer
    // sees any read behind it.
    const std::size_t length = strnlen(reinterpret_cast<const char *>(data), size);
    const std::unique_ptr<char[]> line(new char[length + 1]);
    std::memcpy(line.get(), data, length);
    line[length] = '\0';
    const char *rest = SkipProgramName(line.get());
    if (rest != ExpectedRest(line.get()) || SelectCommand(rest) != ExpectedCommand(rest))
        std::abort();
    return 0;
}
