#include "hwaccess/port_io.h"

#include "hwaccess/io_driver.h"

// Neither request checks the handle first: before bring-up or after a failed
// one the request fails, giving 0 for a read and false for a write.

bool TryReadIoPortByte(std::uint16_t port, std::uint8_t &value) {
    const std::uint8_t input[QUENDRA_READ_INPUT_LENGTH] = {static_cast<std::uint8_t>(port & 0xFF),
                                                           static_cast<std::uint8_t>(port >> 8)};
    std::uint8_t output[QUENDRA_READ_OUTPUT_LENGTH] = {0, 0};
    DWORD returned = 0;
    const bool done =
        DeviceIoControl(g_hIoDriver, IOCTL_READ_IO_PORT_BYTE, const_cast<std::uint8_t *>(input),
                        sizeof input, output, sizeof output, &returned, nullptr);
    // Byte 1 and the reported count are not interpreted.
    value = output[0];
    return done;
}

std::uint8_t ReadIoPortByte(std::uint16_t port) {
    std::uint8_t value = 0;
    TryReadIoPortByte(port, value);
    return value;
}

bool WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    const std::uint8_t input[QUENDRA_WRITE_INPUT_LENGTH] = {
        static_cast<std::uint8_t>(port & 0xFF), static_cast<std::uint8_t>(port >> 8), 0, 0, value};
    DWORD returned = 0;
    return DeviceIoControl(g_hIoDriver, IOCTL_WRITE_IO_PORT_BYTE, const_cast<std::uint8_t *>(input),
                           sizeof input, nullptr, 0, &returned, nullptr);
}
