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
// How long a stopping driver is given to unload.
constexpr DWORD kStopWaitMs = 15000;
constexpr DWORD kStopPollMs = 100;

struct DriverRecord {
    std::string imagePath;
    bool created = false;
    std::string previousImagePath;
};

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

// Stops the driver and waits until it has unloaded: false when it will not
// (no unload routine, a handle held open).
bool StopAndWait(SC_HANDLE manager) {
    const UniqueServiceHandle service(
        OpenServiceA(manager, kDriverServiceName, driver_rights::kStop));
    if (!service)
        return false;
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
    for (DWORD waited = 0; status.dwCurrentState != SERVICE_STOPPED; waited += kStopPollMs) {
        if (waited >= kStopWaitMs)
            return false;
        Sleep(kStopPollMs);
        if (!QueryServiceStatus(service.get(), &status))
            return false;
    }
    return true;
}

DriverRelease Undo(const DriverRecord &record) {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, driver_rights::kManager));
    if (!manager)
        return DriverRelease::Failed;
    {
        const UniqueServiceHandle service(
            OpenServiceA(manager.get(), kDriverServiceName, driver_rights::kRead));
        if (!service)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? DriverRelease::Nothing
                                                                  : DriverRelease::Failed;
        const std::vector<char> buffer = ReadServiceConfig(service.get());
        if (buffer.empty())
            return DriverRelease::Failed;
        // Pointed elsewhere since: another product's now, left as it is.
        if (!NamesFile(*ServiceConfigIn(buffer), record.imagePath.c_str()))
            return DriverRelease::Nothing;
    }
    if (!record.created) {
        const UniqueServiceHandle service(
            OpenServiceA(manager.get(), kDriverServiceName, driver_rights::kRepoint));
        if (!service || !ChangeDriverImagePath(service.get(), record.previousImagePath.c_str()))
            return DriverRelease::Failed;
    }
    // The driver running is the service's file, which the removal takes.
    const bool stopped = StopAndWait(manager.get());
    if (record.created && !DeleteDriverService(manager.get(), kDriverServiceName))
        return DriverRelease::Failed;
    return stopped ? DriverRelease::Done : DriverRelease::RestartNeeded;
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
    return Undo(*record);
}
