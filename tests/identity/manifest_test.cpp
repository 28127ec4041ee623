// The embedded manifest, read through the activation context Windows builds from it.

#include "case_name.hpp"
#include "shell_run.hpp"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using named_cases::PrintTo;

class ActivationContext {
  public:
    explicit ActivationContext(const wchar_t* program = L"quarrion_shell.exe") {
        const std::wstring shell = ProgramFolder() + program;
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = shell.c_str();
        request.lpResourceName = MAKEINTRESOURCEW(1); // CREATEPROCESS_MANIFEST_RESOURCE_ID
        handle_ = ::CreateActCtxW(&request);
    }
    ActivationContext(const ActivationContext&) = delete;
    ActivationContext& operator=(const ActivationContext&) = delete;
    ~ActivationContext() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::ReleaseActCtx(handle_);
        }
    }

    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] std::wstring Setting(const wchar_t* nameSpace, const wchar_t* name) const {
        wchar_t value[128] = {};
        SIZE_T written = 0;
        if (::QueryActCtxSettingsW(0, handle_, nameSpace, name, value, 128, &written) == FALSE) {
            return L"<absent>";
        }
        return value;
    }

  private:
    HANDLE handle_;
};

struct RunLevelCase {
    const char* name;
    const wchar_t* program;
    ACTCTX_REQUESTED_RUN_LEVEL runLevel;
};

class RunLevel : public testing::TestWithParam<RunLevelCase> {};

TEST_P(RunLevel, IsWhatTheProgramNeedsWithoutUiAccess) {
    const ActivationContext context(GetParam().program);
    ASSERT_NE(context.get(), INVALID_HANDLE_VALUE) << "no usable manifest";
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    SIZE_T size = 0;
    ASSERT_TRUE(::QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext,
                               &level, sizeof level, &size));
    EXPECT_EQ(level.RunLevel, GetParam().runLevel);
    EXPECT_EQ(level.UiAccess, 0u);
}

// The setup asks an administrator to elevate and runs a standard user's install without asking.
INSTANTIATE_TEST_SUITE_P(Manifest, RunLevel,
                         testing::Values(RunLevelCase{"Program", L"quarrion_shell.exe",
                                                      ACTCTX_RUN_LEVEL_AS_INVOKER},
                                         RunLevelCase{"Setup", L"quarrion_shell_setup.exe",
                                                      ACTCTX_RUN_LEVEL_HIGHEST_AVAILABLE}),
                         CaseName<RunLevelCase>);

std::vector<BYTE> Query(HANDLE context, ULONG infoClass, DWORD index = 0) {
    SIZE_T size = 0;
    ::QueryActCtxW(0, context, index != 0 ? &index : nullptr, infoClass, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || ::QueryActCtxW(0, context, index != 0 ? &index : nullptr, infoClass,
                                    buffer.data(), size, &size) == FALSE) {
        return {};
    }
    return buffer;
}

TEST(Manifest, SupportsWindows7To11) {
    const ActivationContext context;
    ASSERT_NE(context.get(), INVALID_HANDLE_VALUE);
    const auto buffer = Query(context.get(), CompatibilityInformationInActivationContext);
    ASSERT_GE(buffer.size(), sizeof(DWORD));
    // Laid out as Windows 10 and later (and Wine) return it: a count, then from offset 8 one
    // element per system, each a GUID, a type and the highest version tested.
    struct Element {
        GUID id;
        DWORD type;
        DWORD padding;
        ULONGLONG maxVersionTested;
    };
    DWORD count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    ASSERT_EQ(buffer.size(), 8 + count * sizeof(Element));
    std::set<std::wstring> systems;
    for (DWORD i = 0; i < count; ++i) {
        Element element{};
        std::memcpy(&element, buffer.data() + 8 + i * sizeof element, sizeof element);
        EXPECT_EQ(element.type, static_cast<DWORD>(ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS));
        wchar_t id[40] = {};
        ::StringFromGUID2(element.id, id, 40);
        systems.insert(id);
    }
    EXPECT_EQ(systems, (std::set<std::wstring>{
                           L"{35138B9A-5D96-4FBD-8E2D-A2440225F93A}",    // Windows 7
                           L"{4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}",    // Windows 8
                           L"{1F676C76-80E1-4239-95BB-83D0F6D0DA78}",    // Windows 8.1
                           L"{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"})); // Windows 10 and 11
}

TEST(Manifest, IsDpiAware) {
    const ActivationContext context;
    ASSERT_NE(context.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(context.Setting(nullptr, L"dpiAware"), L"true/pm");
    EXPECT_EQ(
        context.Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        L"PerMonitorV2, PerMonitor");
}

// The platform resolves the dependency to the version 6 common controls it has.
TEST(Manifest, BringsCommonControls6) {
    const ActivationContext context;
    ASSERT_NE(context.get(), INVALID_HANDLE_VALUE);
    const auto details = Query(context.get(), ActivationContextDetailedInformation);
    ASSERT_GE(details.size(), sizeof(ACTIVATION_CONTEXT_DETAILED_INFORMATION));
    const auto* overall =
        reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(details.data());
    std::vector<std::wstring> identities;
    for (DWORD index = 2; index <= overall->ulAssemblyCount; ++index) { // 1 is the program
        const auto assembly =
            Query(context.get(), AssemblyDetailedInformationInActivationContext, index);
        ASSERT_FALSE(assembly.empty());
        identities.emplace_back(
            reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(
                assembly.data())
                ->lpAssemblyEncodedAssemblyIdentity);
    }
    ASSERT_EQ(identities.size(), 1u) << "one dependency";
    EXPECT_NE(identities[0].find(L"Microsoft.Windows.Common-Controls"), std::wstring::npos)
        << testing::PrintToString(identities[0]);
    EXPECT_NE(identities[0].find(L"version=\"6."), std::wstring::npos)
        << testing::PrintToString(identities[0]);
}

} // namespace
