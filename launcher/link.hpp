#pragma once

#include <string>
#include <string_view>

// Link handling shared by the launcher and its tests; no platform calls, so it builds anywhere.

struct LinkFields {
    std::wstring server;
    std::wstring password;
    bool hasPassword = false; // a second field was present, even an empty one
};

// Drops every "quarrion://" and splits what is left at "/". Throws LaunchFailure when nothing is
// left, since then there is no server to connect to.
LinkFields DecodeLink(std::wstring_view argumentText);

// True when the field cannot end the game's option it is placed in or start another one: the
// command line is unquoted, so a blank, quote, control unit, "+" or ";" would reach the game as
// options of the link author's choosing.
bool IsSafeField(std::wstring_view field);

// Throws LaunchFailure unless the server and the password are both safe.
void RequireSafeFields(const LinkFields& link);

// install path + " +connect " + server, then " +pass " + password when the link had a second field.
std::wstring BuildGameCommand(std::wstring_view installPath, const LinkFields& link);
