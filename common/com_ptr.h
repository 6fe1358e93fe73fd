#pragma once
// Owning holders for COM interfaces, BSTRs and VARIANTs, so that every
// resource obtained is given back exactly once, on every path.

#include <windows.h>

#include <oleauto.h>

#include <utility>

template <typename T> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ~ComPtr() { reset(); }

    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out-parameters: releases what is held and exposes the slot.
    T **put() {
        reset();
        return &p_;
    }
    void **put_void() { return reinterpret_cast<void **>(put()); }

    void reset() {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }

  private:
    T *p_ = nullptr;
};

class UniqueBstr {
  public:
    explicit UniqueBstr(const wchar_t *text) : s_(SysAllocString(text)) {}
    UniqueBstr(const UniqueBstr &) = delete;
    UniqueBstr &operator=(const UniqueBstr &) = delete;
    ~UniqueBstr() { SysFreeString(s_); }

    BSTR get() const { return s_; }

  private:
    BSTR s_;
};

class UniqueVariant {
  public:
    UniqueVariant() { VariantInit(&v_); }
    UniqueVariant(const UniqueVariant &) = delete;
    UniqueVariant &operator=(const UniqueVariant &) = delete;
    ~UniqueVariant() { VariantClear(&v_); }

    VARIANT *get() { return &v_; }

  private:
    VARIANT v_;
};
