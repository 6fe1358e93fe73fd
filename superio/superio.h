#pragma once
// Root of the Super I/O family: configuration mode of a Super I/O chip.

struct HwAccess;

class SuperIO {
  public:
    // Slot 0: unlocks the chip's configuration registers.
    virtual void EnterConfigMode() = 0;
    // Slot 1: locks them again.
    virtual void ExitConfigMode() = 0;

  protected:
    // The object is never destroyed through the family's pointers, so the
    // virtual table holds no destructor.
    SuperIO() = default;
    ~SuperIO() = default;
    SuperIO(const SuperIO &) = delete;
    SuperIO &operator=(const SuperIO &) = delete;

    // The hardware-access object; set by the chip's constructor, which
    // refuses to run without one.
    HwAccess *m_pHwAccess;
};
