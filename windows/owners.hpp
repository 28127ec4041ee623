#pragma once

// Small owners in the spirit of WIL's unique_* types: each takes its resource at the moment it is
// acquired and gives it back on every path out of the scope that holds it.

#include <windows.h>
#include <oleauto.h>

#include <utility>

// A kernel handle: files, processes, threads, events. Both "no handle" values of the API
// (null and INVALID_HANDLE_VALUE) read as empty.
class UniqueHandle {
  public:
    explicit UniqueHandle(HANDLE value = nullptr) noexcept : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.value_, nullptr));
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    explicit operator bool() const noexcept {
        return value_ != nullptr && value_ != INVALID_HANDLE_VALUE;
    }
    [[nodiscard]] HANDLE get() const noexcept { return value_; }
    void reset(HANDLE value = nullptr) noexcept {
        if (*this) {
            ::CloseHandle(value_);
        }
        value_ = value;
    }

  private:
    HANDLE value_;
};

// An open registry key.
class UniqueKey {
  public:
    UniqueKey() noexcept = default;
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() {
        if (value_ != nullptr) {
            ::RegCloseKey(value_);
        }
    }

    [[nodiscard]] HKEY get() const noexcept { return value_; }
    HKEY* put() noexcept { return &value_; }

  private:
    HKEY value_ = nullptr;
};

class UniqueBstr {
  public:
    explicit UniqueBstr(BSTR value) noexcept : value_(value) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { ::SysFreeString(value_); }

    explicit operator bool() const noexcept { return value_ != nullptr; }
    // For a by-reference argument: the callee may replace the string, and the owner frees
    // whichever one is there at the end.
    BSTR* addressof() noexcept { return &value_; }

  private:
    BSTR value_;
};

class UniqueVariant {
  public:
    UniqueVariant() noexcept { ::VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(&value_); }

    [[nodiscard]] VARIANT& get() noexcept { return value_; }
    // For an out parameter; whatever was held is released first.
    VARIANT* put() noexcept {
        ::VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_{};
};

// IDispatch::Invoke fills in three strings when the method raises an error.
class UniqueExcepInfo {
  public:
    UniqueExcepInfo() noexcept = default;
    UniqueExcepInfo(const UniqueExcepInfo&) = delete;
    UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;
    ~UniqueExcepInfo() {
        ::SysFreeString(value_.bstrSource);
        ::SysFreeString(value_.bstrDescription);
        ::SysFreeString(value_.bstrHelpFile);
    }

    EXCEPINFO* put() noexcept { return &value_; }

  private:
    EXCEPINFO value_{};
};

class UniqueProcessInformation {
  public:
    UniqueProcessInformation() noexcept = default;
    UniqueProcessInformation(const UniqueProcessInformation&) = delete;
    UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;
    ~UniqueProcessInformation() {
        if (value_.hThread != nullptr) {
            ::CloseHandle(value_.hThread);
        }
        if (value_.hProcess != nullptr) {
            ::CloseHandle(value_.hProcess);
        }
    }

    [[nodiscard]] const PROCESS_INFORMATION& get() const noexcept { return value_; }
    PROCESS_INFORMATION* put() noexcept { return &value_; }

  private:
    PROCESS_INFORMATION value_{};
};
