#pragma once

#include <string>
#include <string_view>

inline constexpr std::wstring_view failureCaption = L"Oopsie...";

// The report's text: one fixed first line, then the server and password decoded so far.
std::wstring ComposeFailureMessage(std::wstring_view server, std::wstring_view password);
