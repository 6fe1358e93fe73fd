#pragma once
// Where the button's level is read: a chipset input bit behind an I/O port.

#include <cstdint>
#include <string>

struct ButtonInput {
    std::uint16_t port;
    unsigned bit;
};

// Boards whose product text contains "6231" wire the button to bit 6 of port
// 0x50D; all others to bit 0 of port 0x50C.
ButtonInput ButtonInputFor(const std::string &boardProduct);

// The level (0 pressed, 1 released) carried by the byte read from the input's port.
unsigned ButtonLevel(ButtonInput input, std::uint8_t portValue);
