#include "failure_message.hpp"

#include <gtest/gtest.h>

namespace {

const std::wstring firstLine = L"There was an issue starting quarrion, either it isn't installed, "
                               L"or you clicked on an invalid link";

TEST(ComposeFailureMessage, ShowsTheDecodedFieldsUnderTheFixedFirstLine) {
    EXPECT_EQ(ComposeFailureMessage(L"1.2.3.4:27960", L"secret"),
              firstLine + L"\r\nServer: 1.2.3.4:27960\r\nPass: secret");
    EXPECT_EQ(ComposeFailureMessage(L"", L""), firstLine + L"\r\nServer: \r\nPass: ");
}

} // namespace
