#pragma once
// The press latch: one press, however long it is held, is handled once.

// Input level of the button: 0 pressed, 1 released.
inline constexpr unsigned kLevelPressed = 0;
inline constexpr unsigned kLevelReleased = 1;

// Applies one sample to the latch. True when this sample is a new press, to be
// handled now; the latch then stays set until a sample reads released.
bool LatchPress(bool &latched, unsigned level);
