#include "service/service_rules.h"

#include "common/ascii_case.h"

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

} // namespace

const char *SkipProgramName(const char *cmdLine) {
    const char *p = cmdLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p != '\0' && !IsBlankOrControl(*p))
            ++p;
    }
    while (*p != '\0' && IsBlankOrControl(*p))
        ++p;
    return p;
}

bool SwitchMatches(const char *text, const char *sw) {
    return EqualIgnoringAsciiCase(text, sw);
}

SwitchCommand SelectCommand(const char *args) {
    if (args == nullptr)
        return SwitchCommand::None;
    if (SwitchMatches(args, kInstallSwitch))
        return SwitchCommand::Install;
    if (SwitchMatches(args, kUninstallSwitch))
        return SwitchCommand::Uninstall;
    return SwitchCommand::None;
}
