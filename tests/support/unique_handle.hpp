#pragma once

#include <windows.h>

// Closes a kernel handle on every path out of the scope that holds it.
struct UniqueHandle {
    HANDLE value;
    explicit UniqueHandle(HANDLE owned) : value(owned) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) {
            ::CloseHandle(value);
        }
    }
};
