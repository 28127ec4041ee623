#include "failure_message.hpp"

std::wstring ComposeFailureMessage(std::wstring_view server, std::wstring_view password) {
    constexpr std::wstring_view firstLine = L"There was an issue starting quarrion, either it "
                                            L"isn't installed, or you clicked on an invalid link";
    constexpr std::wstring_view lineBreak = L"\r\n";
    constexpr std::wstring_view serverLabel = L"Server: ";
    constexpr std::wstring_view passwordLabel = L"Pass: ";

    std::wstring message;
    message.reserve(firstLine.size() + 2 * lineBreak.size() + serverLabel.size() + server.size() +
                    passwordLabel.size() + password.size());
    message.append(firstLine).append(lineBreak).append(serverLabel).append(server);
    message.append(lineBreak).append(passwordLabel).append(password);
    return message;
}
