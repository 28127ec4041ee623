#pragma once

// COM for the launcher: its calls' failures raised as LaunchFailure, and the apartment it runs in.

#include "../windows/owners.hpp"
#include "launch_failure.hpp"

#include <ole2.h>

inline void ThrowIfFailed(HRESULT result, const char* what) {
    if (FAILED(result)) {
        throw LaunchFailure(what);
    }
}

// COM for the calling thread, for as long as the object lives.
class ComApartment {
  public:
    ComApartment() {
        ThrowIfFailed(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
                      "COM could not be initialised");
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() { ::CoUninitialize(); }
};
