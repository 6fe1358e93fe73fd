#include "hwaccess/driver_record.h"

#include "common/service_config.h"
#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kImagePathValue[] = "DriverImagePath";
constexpr char kCreatedValue[] = "DriverCreated";
constexpr char kPreviousImagePathValue[] = "DriverPreviousImagePath";

void SetText(HKEY key, const char *name, const std::string &text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

std::optional<std::string> Text(HKEY key, const char *name) {
    char text[1024];
    DWORD type = 0, size = sizeof text - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    text[size] = '\0';
    return std::string(text);
}

std::optional<DriverRecord> ReadRecord(const char *recordKey) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    DriverRecord record;
    const std::optional<std::string> imagePath = Text(key.get(), kImagePathValue);
    const std::optional<std::string> previous = Text(key.get(), kPreviousImagePathValue);
    DWORD created = 0, size = sizeof created;
    record.created = RegQueryValueExA(key.get(), kCreatedValue, nullptr, nullptr,
                                      reinterpret_cast<BYTE *>(&created), &size) == ERROR_SUCCESS &&
                     created == 1;
    if (!imagePath || (!record.created && !previous))
        return std::nullopt;
    record.imagePath = *imagePath;
    record.previousImagePath = previous.value_or("");
    return record;
}

} // namespace

void RecordDriverChange(const DriverServiceReport &install, const char *recordKey) {
    const bool leftInPlace =
        install.failedStep == DriverStep::None || install.failedStep == DriverStep::Device;
    if (!leftInPlace || (!install.created && !install.repointed))
        return;
    UniqueRegKey key;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, recordKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    SetText(key.get(), kImagePathValue, g_szDriverPath);
    if (install.created) {
        const DWORD created = 1;
        RegSetValueExA(key.get(), kCreatedValue, 0, REG_DWORD,
                       reinterpret_cast<const BYTE *>(&created), sizeof created);
        RegDeleteValueA(key.get(), kPreviousImagePathValue);
    } else {
        SetText(key.get(), kPreviousImagePathValue, install.previousImagePath);
        RegDeleteValueA(key.get(), kCreatedValue);
    }
}

DriverRelease ReleaseDriverService(const char *recordKey) {
    const std::optional<DriverRecord> record = ReadRecord(recordKey);
    if (!record)
        return DriverRelease::Nothing;
    return UndoDriverChange(*record);
}
