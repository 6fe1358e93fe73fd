#include "button/press_latch.h"

bool LatchPress(bool &latched, unsigned level) {
    if (level != kLevelPressed) {
        latched = false;
        return false;
    }
    if (latched)
        return false;
    latched = true;
    return true;
}
