#include "hwaccess/driver_record.h"

#include "common/win_handles.h"
#include "hwaccess/io_driver.h"

#include <optional>
#include <string>

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

// Writes the record (the key made where missing; with parentMustExist only
// below an existing key, so that no service's key is made for it).
bool WriteRecord(const char *recordKey, const DriverRecord &record, bool parentMustExist = false) {
    if (parentMustExist) {
        const std::string key(recordKey);
        const std::string parent = key.substr(0, key.rfind('\\'));
        UniqueRegKey existing;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_QUERY_VALUE, existing.put()) !=
            ERROR_SUCCESS)
            return false;
    }
    UniqueRegKey key;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, recordKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    SetText(key.get(), kImagePathValue, record.imagePath);
    if (record.created) {
        const DWORD created = 1;
        RegSetValueExA(key.get(), kCreatedValue, 0, REG_DWORD,
                       reinterpret_cast<const BYTE *>(&created), sizeof created);
        RegDeleteValueA(key.get(), kPreviousImagePathValue);
    } else {
        SetText(key.get(), kPreviousImagePathValue, record.previousImagePath);
        RegDeleteValueA(key.get(), kCreatedValue);
    }
    return true;
}

// The record of current, a change bring-up made, after an earlier record: a
// registration the earlier record says the service made or pointed at its
// file (a hand installation's, which the package handed over), now pointed
// at this folder's file, is still the earlier record's doing, not another
// product's.
DriverRecord Continued(const std::optional<DriverRecord> &earlier, DriverRecord current) {
    if (earlier && !current.created &&
        SameDriverFile(current.previousImagePath.c_str(), earlier->imagePath.c_str())) {
        current.created = earlier->created;
        current.previousImagePath = earlier->previousImagePath;
    }
    return current;
}

} // namespace

void RecordDriverChange(const DriverServiceReport &install, const char *recordKey) {
    const bool leftInPlace =
        install.failedStep == DriverStep::None || install.failedStep == DriverStep::Device;
    if (!leftInPlace || (!install.created && !install.repointed))
        return;
    WriteRecord(recordKey, Continued(ReadRecord(recordKey),
                                     {g_szDriverPath, install.created, install.previousImagePath}));
}

bool MoveDriverRecord(const char *from, const char *to) {
    const std::optional<DriverRecord> record = ReadRecord(from);
    if (!record || !WriteRecord(to, *record, /*parentMustExist=*/true))
        return false;
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, from, 0, 0);
    return true;
}

bool AdoptDriverRecord(const char *handedOver, const char *recordKey) {
    const std::optional<DriverRecord> earlier = ReadRecord(handedOver);
    if (!earlier)
        return false;
    const std::optional<DriverRecord> current = ReadRecord(recordKey);
    WriteRecord(recordKey, current ? Continued(earlier, *current) : *earlier);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, handedOver, 0, 0);
    return true;
}

DriverRelease ReleaseDriverService(const char *recordKey) {
    const std::optional<DriverRecord> record = ReadRecord(recordKey);
    if (!record)
        return DriverRelease::Nothing;
    return UndoDriverChange(*record);
}
