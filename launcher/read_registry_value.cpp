#include "bas_main.hpp"
#include "com.hpp"

#include <wrl/client.h>

#include <new>

std::wstring basMain::ReadRegistryValue(const std::wstring& valuePath) {
    // Declared first so that it ends last, after every COM object and value below is released.
    const ComApartment apartment;

    CLSID shellClass{};
    ThrowIfFailed(::CLSIDFromProgID(L"WScript.Shell", &shellClass),
                  "WScript.Shell is not registered");
    Microsoft::WRL::ComPtr<IDispatch> shell;
    ThrowIfFailed(::CoCreateInstance(shellClass, nullptr, CLSCTX_SERVER, IID_PPV_ARGS(&shell)),
                  "WScript.Shell could not be created");

    wchar_t methodName[] = L"RegRead";
    LPOLESTR names[] = {methodName};
    DISPID regRead{};
    ThrowIfFailed(shell->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &regRead),
                  "WScript.Shell has no RegRead");

    UniqueBstr path(::SysAllocStringLen(valuePath.data(), static_cast<UINT>(valuePath.size())));
    if (!path) {
        throw std::bad_alloc();
    }
    VARIANT argument; // refers to path, owns nothing
    ::VariantInit(&argument);
    argument.vt = VT_BSTR | VT_BYREF;
    argument.pbstrVal = path.addressof();
    DISPPARAMS parameters{&argument, nullptr, 1, 0};

    UniqueVariant value;
    UniqueExcepInfo error;
    ThrowIfFailed(shell->Invoke(regRead, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                &parameters, value.put(), error.put(), nullptr),
                  "the registry value could not be read");

    UniqueVariant text;
    ThrowIfFailed(::VariantChangeType(text.put(), &value.get(), 0, VT_BSTR),
                  "the registry value has no text form");
    const BSTR content = text.get().bstrVal; // an empty text may come back as a null BSTR
    return content != nullptr ? std::wstring(content, ::SysStringLen(content)) : std::wstring();
}
