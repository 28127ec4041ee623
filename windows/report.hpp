#pragma once

// What a program run by setup says. Setup starts it with no console, so that no console host is
// started for every step and no window flashes; it then has no output to read, and names a file
// instead: "/report=<file>" before the arguments. Run by hand, the program says it on standard
// output.

#include "owners.hpp"
#include "text.hpp"

#include <windows.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

class Report {
  public:
    // Takes "/report=<file>" off the front of the arguments.
    explicit Report(std::vector<std::wstring>& arguments) {
        constexpr std::wstring_view option = L"/report=";
        if (!arguments.empty() && arguments.front().starts_with(option)) {
            file_ = arguments.front().substr(option.size());
            arguments.erase(arguments.begin());
        }
    }

    // The text, UTF-8, to standard output or as UTF-16 into the file (replaced), which setup reads
    // exactly whatever the code page.
    void Say(const std::string& text) const {
        if (file_.empty()) {
            std::cout << text << std::flush;
            return;
        }
        const std::wstring wide = Wide(text);
        const std::size_t bytes = wide.size() * sizeof(wchar_t);
        const UniqueHandle file(::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        // A report that cannot be written lacks its last line: setup then takes the run as failed.
        if (file) {
            ::WriteFile(file.get(), wide.data(), static_cast<DWORD>(bytes), &written, nullptr);
        }
    }

  private:
    std::wstring file_;
};
