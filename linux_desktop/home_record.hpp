#pragma once

// The home's record of what our registrations made there besides their own files, as text. No
// platform calls.

#include "mimeapps.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace desktop {

// What our registrations made in a home besides each one's own files, so that the last one
// removed gives the home back as it was found.
struct HomeRecord {
    Additions added;                  // to mimeapps.list
    bool mimeapps = false;            // mimeapps.list itself
    bool cache = false;               // applications/mimeinfo.cache, by update-desktop-database
    std::vector<std::string> folders; // outermost first
    bool operator==(const HomeRecord&) const = default;
};
std::string HomeRecordText(const HomeRecord& record);
HomeRecord ParseHomeRecord(std::string_view text);

} // namespace desktop
