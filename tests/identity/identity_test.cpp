// Looks at the built quarrion_shell.exe the way Windows and Explorer do: its version block, icon,
// frmIcon window definition, manifest, headers and imports. Each expected value is written out
// here, so a wrong value in the build's single source of them fails.

#include "pe_image.hpp"
#include "shell_run.hpp"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const std::wstring shell = ProgramFolder() + L"quarrion_shell.exe";
constexpr WORD usEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class Module {
  public:
    Module()
        : handle_(::LoadLibraryExW(shell.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module() { ::FreeLibrary(handle_); }

    [[nodiscard]] HMODULE get() const { return handle_; }
    [[nodiscard]] std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name) const {
        const HRSRC found = ::FindResourceExW(handle_, type, name, usEnglish);
        if (found == nullptr) {
            return {};
        }
        const auto* bytes =
            static_cast<const BYTE*>(::LockResource(::LoadResource(handle_, found)));
        return {bytes, bytes + ::SizeofResource(handle_, found)};
    }

  private:
    HMODULE handle_;
};

std::vector<BYTE> VersionBlock() {
    DWORD ignored = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(shell.c_str(), &ignored));
    if (block.empty() || ::GetFileVersionInfoW(shell.c_str(), 0, static_cast<DWORD>(block.size()),
                                               block.data()) == FALSE) {
        return {};
    }
    return block;
}

std::wstring VersionString(std::vector<BYTE>& block, const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + key;
    if (::VerQueryValueW(block.data(), path.c_str(), &value, &length) == FALSE) {
        return L"<missing>";
    }
    std::wstring text(static_cast<const wchar_t*>(value), length);
    text.erase(std::find(text.begin(), text.end(), L'\0'), text.end());
    return text;
}

TEST(VersionBlock, FixedPartIsVersion1004ForAnApplication) {
    auto block = VersionBlock();
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000004u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 4u);
    EXPECT_EQ(fixed->dwFileType, 1u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
}

TEST(VersionBlock, StringTableHoldsExactlyTheSixNames) {
    auto block = VersionBlock();
    ASSERT_FALSE(block.empty());
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"CompanyName", L"Tabrix"},          {L"ProductName", L"Quarrion Shell Interface"},
        {L"FileVersion", L"1.00.0004"},       {L"ProductVersion", L"1.00.0004"},
        {L"InternalName", L"quarrion_shell"}, {L"OriginalFilename", L"quarrion_shell.exe"}};
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(VersionString(block, key), value) << "key " << testing::PrintToString(key);
    }

    const auto root = VersionChildren(block).at(0);
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    std::vector<std::wstring> tables;
    std::set<std::wstring> keys;
    for (const auto& info : VersionChildren(block, &root)) {
        if (info.key != L"StringFileInfo") {
            continue;
        }
        for (const auto& table : VersionChildren(block, &info)) {
            tables.push_back(table.key);
            for (const auto& entry : VersionChildren(block, &table)) {
                keys.insert(entry.key);
            }
        }
    }
    EXPECT_EQ(tables, std::vector<std::wstring>{L"040904B0"});
    std::set<std::wstring> expectedKeys;
    for (const auto& entry : expected) {
        expectedKeys.insert(entry.first);
    }
    EXPECT_EQ(keys, expectedKeys);
}

TEST(VersionBlock, TranslationIsUsEnglishUnicode) {
    auto block = VersionBlock();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 2 * sizeof(WORD));
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

BOOL CALLBACK CollectLanguagesOfType(HMODULE module, LPWSTR type, LONG_PTR languages) {
    std::vector<ULONG_PTR> names;
    ::EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
    for (const auto name : names) {
        ::EnumResourceLanguagesW(module, type, reinterpret_cast<LPCWSTR>(name), CollectLanguage,
                                 languages);
    }
    return TRUE;
}

TEST(Resources, AreAllInUsEnglish) {
    const Module module;
    ASSERT_NE(module.get(), nullptr);
    std::set<WORD> languages;
    ::EnumResourceTypesW(module.get(), CollectLanguagesOfType,
                         reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::set<WORD>{usEnglish});
}

TEST(Icon, IsOneGroupWithOne32By32ImageOf256Colours) {
    EXPECT_EQ(::ExtractIconExW(shell.c_str(), -1, nullptr, nullptr, 0), 1u) << "Explorer's count";

    const Module module;
    std::vector<ULONG_PTR> groups;
    ::EnumResourceNamesW(module.get(), RT_GROUP_ICON, CollectName,
                         reinterpret_cast<LONG_PTR>(&groups));
    ASSERT_EQ(groups.size(), 1u);

    const auto group = module.Resource(RT_GROUP_ICON, reinterpret_cast<LPCWSTR>(groups[0]));
    ASSERT_EQ(group.size(), 6u + 14u) << "one directory entry";
    EXPECT_EQ(group[4], 1) << "image count";
    EXPECT_EQ(group[6], 32) << "width";
    EXPECT_EQ(group[7], 32) << "height";
    EXPECT_EQ(group[12], 8) << "bits per pixel";
    const auto iconId = static_cast<WORD>(group[18] | group[19] << 8);

    const auto image = module.Resource(RT_ICON, MAKEINTRESOURCEW(iconId));
    BITMAPINFOHEADER header{};
    ASSERT_GE(image.size(), sizeof header);
    std::memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64) << "colour rows and mask rows";
    EXPECT_EQ(header.biBitCount, 8);
    const std::size_t paletteSize = (header.biClrUsed != 0 ? header.biClrUsed : 256) * 4;
    const std::size_t colourSize = 32 * 32;
    const std::size_t maskSize = 32 * 4; // one bit a pixel, rows of 32 bits
    ASSERT_EQ(image.size(), sizeof header + paletteSize + colourSize + maskSize);

    // A picture, not a flat square: several colours, some see-through pixels, mostly drawn.
    const auto* colours = image.data() + sizeof header + paletteSize;
    const std::set<BYTE> used(colours, colours + colourSize);
    EXPECT_GE(used.size(), 5u);
    const auto* mask = colours + colourSize;
    const auto clear = std::count_if(mask, mask + maskSize, [](BYTE bits) { return bits != 0; });
    EXPECT_GT(clear, 0);
    EXPECT_LT(clear, static_cast<long>(maskSize));

    auto bits = image; // the function takes a non-const pointer
    const HICON icon = ::CreateIconFromResourceEx(bits.data(), static_cast<DWORD>(bits.size()),
                                                  TRUE, 0x00030000, 32, 32, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << "Windows cannot use the image";
    ::DestroyIcon(icon);
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

TEST(FrmIcon, IsAnEmptyWindowCalledIconHolder) {
    const Module module;
    const auto dialog = module.Resource(RT_DIALOG, L"FRMICON");
    ASSERT_FALSE(dialog.empty()) << "no frmIcon dialog";
    const HWND window = ::CreateDialogIndirectParamW(
        nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), nullptr, IgnoreMessages, 0);
    ASSERT_NE(window, nullptr);
    wchar_t caption[64] = {};
    ::GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L"IconHolder");
    EXPECT_EQ(::GetWindow(window, GW_CHILD), nullptr) << "it has controls";
    EXPECT_FALSE(::IsWindowVisible(window));
    ::DestroyWindow(window);
}

TEST(Image, Is32BitX86ForTheGuiSubsystem) {
    const PeImage image = ReadPeImage(shell);
    EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.optionalHeaderMagic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI) << "a console would open";
}

TEST(Image, ImportsOnlyDllsEveryWindowsHas) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                          "advapi32.dll", "shell32.dll",  "ole32.dll",
                                          "oleaut32.dll", "comctl32.dll", "msvcrt.dll"};
    const PeImage image = ReadPeImage(shell);
    EXPECT_FALSE(image.importedDlls.empty());
    for (std::string dll : image.importedDlls) {
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(system.count(dll) == 1) << dll << " is not on every Windows";
    }
}

} // namespace
