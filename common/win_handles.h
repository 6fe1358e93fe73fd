#pragma once
// Owning wrappers for the Win32 handles and memory closed or freed by the
// code itself: one template, one line of traits and an alias for each kind.

#include <windows.h>

#include <utility>

template <typename Traits> class UniqueWinHandle {
  public:
    using handle_type = typename Traits::type;

    UniqueWinHandle() = default;
    explicit UniqueWinHandle(handle_type h) : h_(h) {}
    UniqueWinHandle(const UniqueWinHandle &) = delete;
    UniqueWinHandle &operator=(const UniqueWinHandle &) = delete;
    UniqueWinHandle(UniqueWinHandle &&o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
    UniqueWinHandle &operator=(UniqueWinHandle &&o) noexcept {
        reset(std::exchange(o.h_, Traits::invalid()));
        return *this;
    }
    ~UniqueWinHandle() { reset(); }

    handle_type get() const { return h_; }
    explicit operator bool() const { return Traits::valid(h_); }

    // Hands ownership to the caller.
    handle_type release() { return std::exchange(h_, Traits::invalid()); }

    void reset(handle_type h = Traits::invalid()) {
        if (Traits::valid(h_))
            Traits::close(h_);
        h_ = h;
    }

    // For out-parameters: closes what is held and exposes the slot.
    handle_type *put() {
        reset();
        return &h_;
    }

  private:
    handle_type h_ = Traits::invalid();
};

struct KernelHandleTraits {
    using type = HANDLE;
    static type invalid() { return nullptr; }
    static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(type h) { CloseHandle(h); }
};

// A handle whose invalid value is zero or null, closed by Close.
template <typename T, auto Close> struct NullHandleTraits {
    using type = T;
    static type invalid() { return T{}; }
    static bool valid(type h) { return h != T{}; }
    static void close(type h) { Close(h); }
};

struct FindTraits {
    using type = HANDLE;
    static type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(type h) { return h != INVALID_HANDLE_VALUE; }
    static void close(type h) { FindClose(h); }
};

// Kernel objects: files, devices, processes, threads, tokens, snapshots.
using UniqueHandle = UniqueWinHandle<KernelHandleTraits>;
// Service Control Manager and service handles.
using UniqueServiceHandle = UniqueWinHandle<NullHandleTraits<SC_HANDLE, CloseServiceHandle>>;
using UniqueRegKey = UniqueWinHandle<NullHandleTraits<HKEY, RegCloseKey>>;
// A directory listing (FindFirstFile).
using UniqueFindHandle = UniqueWinHandle<FindTraits>;
// Memory Windows gave with LocalAlloc: descriptors, SIDs, SDDL texts, argv.
using UniqueLocalMemory = UniqueWinHandle<NullHandleTraits<void *, LocalFree>>;
