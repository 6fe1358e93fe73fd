#pragma once
// The stand-ins' own owner of a kernel handle: they share no code with the
// product they stand beside.

#include <windows.h>

#include <utility>

namespace sim {

class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE h) : h_(h) {}
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    OwnedHandle &operator=(OwnedHandle &&o) noexcept {
        std::swap(h_, o.h_);
        return *this;
    }
    ~OwnedHandle() {
        if (*this)
            CloseHandle(h_);
    }

    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

} // namespace sim
