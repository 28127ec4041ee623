#pragma once

#include <stdexcept>

// The one failure the launcher raises. Whatever its cause, it ends in the same report, so the
// message only helps a developer in a debugger.
class LaunchFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
