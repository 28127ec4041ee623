// The least a launcher of this design does, as a yardstick for click_to_game: read the install path
// through WScript.Shell's RegRead in a single-threaded apartment, append the link's options and
// start the game. No checks and no report; what it holds is left to the end of the process, but
// for the started game's handles, closed as the launcher closes them.

#include "../../windows/process.hpp"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR commandLine,
                    int /*show*/) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        return 1;
    }
    CLSID shellClass{};
    IDispatch* shell = nullptr;
    wchar_t methodName[] = L"RegRead";
    LPOLESTR names[] = {methodName};
    DISPID regRead{};
    if (FAILED(::CLSIDFromProgID(L"WScript.Shell", &shellClass)) ||
        FAILED(::CoCreateInstance(shellClass, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&shell))) ||
        FAILED(shell->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &regRead))) {
        return 1;
    }
    BSTR path = ::SysAllocString(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Dunmarch\\Quarrion\\InstallPath");
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_BSTR | VT_BYREF;
    argument.pbstrVal = &path;
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    VARIANT value;
    ::VariantInit(&value);
    if (FAILED(shell->Invoke(regRead, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                             &value, nullptr, nullptr)) ||
        FAILED(::VariantChangeType(&value, &value, 0, VT_BSTR))) {
        return 1;
    }

    // quarrion://server/password: the server and the password, nothing checked.
    std::wstring link = commandLine;
    constexpr std::wstring_view scheme = L"quarrion://";
    if (link.starts_with(scheme)) {
        link.erase(0, scheme.size());
    }
    const auto slash = link.find(L'/');
    std::wstring command = std::wstring(value.bstrVal) + L" +connect " + link.substr(0, slash);
    if (slash != std::wstring::npos) {
        command += L" +pass " + link.substr(slash + 1);
    }

    UniqueProcessInformation process;
    return StartProcess(command, process, {nullptr, nullptr, SW_SHOWNORMAL}) ? 0 : 1;
}
