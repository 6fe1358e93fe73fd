#include "button/button_input.h"

namespace {
constexpr char kAlternativeInputModel[] = "6231";
constexpr ButtonInput kDefaultInput{0x50C, 0};
constexpr ButtonInput kAlternativeInput{0x50D, 6};
} // namespace

ButtonInput ButtonInputFor(const std::string &boardProduct) {
    if (boardProduct.find(kAlternativeInputModel) != std::string::npos)
        return kAlternativeInput;
    return kDefaultInput;
}

unsigned ButtonLevel(ButtonInput input, std::uint8_t portValue) {
    return (portValue >> input.bit) & 1u;
}
