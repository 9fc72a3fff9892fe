#include "hotfix.h"

#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <new>

#include "bstr_text.h"
#include "shared_helpers.h"
#include "ziparchive.h"

// The WMI connection, opened on first use by the worker thread and kept
// until the program ends.
IWbemLocator* wmiLocator = nullptr;
IWbemServices* wmiServices = nullptr;
int wmiConnected = 0;

namespace {

// Releases a COM interface when the scope ends.
template <typename Interface>
class Held {
public:
    explicit Held(Interface* pointer = nullptr) : pointer_(pointer) {}
    ~Held() {
        if (pointer_ != nullptr)
            pointer_->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    Interface* get() const { return pointer_; }
    Interface** out() { return &pointer_; }
    // Hands the pointer over; the holder no longer releases it.
    Interface* keep() {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

private:
    Interface* pointer_;
};

// Clears a VARIANT when the scope ends.
class HeldVariant {
public:
    HeldVariant() { VariantInit(&value_); }
    ~HeldVariant() { VariantClear(&value_); }
    HeldVariant(const HeldVariant&) = delete;
    HeldVariant& operator=(const HeldVariant&) = delete;

    VARIANT* get() { return &value_; }

private:
    VARIANT value_;
};

HRESULT ConnectServer(IWbemLocator* locator, BSTR wmiNamespace, IWbemServices** services) {
    return locator->ConnectServer(wmiNamespace, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                  services);
}

HRESULT SetProxyBlanket(IWbemServices* services) {
    return CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HRESULT ExecQuery(IWbemServices* services, BSTR language, BSTR query,
                  IEnumWbemClassObject** objects) {
    return services->ExecQuery(language, query,
                               WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                               objects);
}

HRESULT NextObject(IEnumWbemClassObject* objects, IWbemClassObject** object, ULONG* returned) {
    return objects->Next(WBEM_INFINITE, 1, object, returned);
}

// Locator, "ROOT\CIMV2" and its proxy security; on any failure the objects
// obtained so far are released and the state stays "not connected".
int ConnectToWmi(const WmiCalls& calls) {
    Held<IWbemLocator> locator;
    HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, reinterpret_cast<void**>(locator.out()));
    if (FAILED(result) || locator.get() == nullptr)
        return 0;

    Held<IWbemServices> services;
    {
        BstrText wmiNamespace(L"ROOT\\CIMV2");
        if (!wmiNamespace.allocated())
            return 0;
        result = calls.connectServer(locator.get(), wmiNamespace.get(), services.out());
    }
    if (FAILED(result) || services.get() == nullptr)
        return 0;

    result = calls.setProxyBlanket(services.get());
    if (FAILED(result))
        return 0;

    wmiLocator = locator.keep();
    wmiServices = services.keep();
    wmiConnected = 1;
    return 1;
}

// One cell per column: the property's string in the ANSI code page, or empty
// when the property is missing, failed or holds no string.
HotfixRow ReadHotfixRow(IWbemClassObject* object, const std::vector<std::wstring>& columns) {
    HotfixRow row;
    row.reserve(columns.size());
    for (const std::wstring& column : columns) {
        HeldVariant value;
        HRESULT result = object->Get(column.c_str(), 0, value.get(), nullptr, nullptr);
        if (SUCCEEDED(result) && value.get()->vt == VT_BSTR)
            row.push_back(WideToAnsi(value.get()->bstrVal));
        else
            row.push_back(std::string());
    }
    return row;
}

}  // namespace

const WmiCalls SYSTEM_WMI_CALLS = {ConnectServer, SetProxyBlanket, ExecQuery, NextObject};

int InitializeWorkerCom() {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (result != S_OK && result != S_FALSE && result != RPC_E_CHANGED_MODE)
        return 0;
    result = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    return (result == S_OK || result == RPC_E_TOO_LATE) ? 1 : 0;
}

int QueryHotfixRows(const std::vector<std::wstring>& columns, HotfixRowTable& rows,
                    const WmiCalls& calls) {
    rows.clear();
    if (wmiConnected == 0)
        return 0;

    Held<IEnumWbemClassObject> enumerator;
    {
        BstrText language(L"WQL");
        BstrText query(L"SELECT * FROM Win32_QuickFixEngineering");
        if (!language.allocated() || !query.allocated())
            return 0;
        HRESULT result =
            calls.execQuery(wmiServices, language.get(), query.get(), enumerator.out());
        if (FAILED(result) || enumerator.get() == nullptr)
            return 0;
    }

    for (;;) {
        Held<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT result = calls.nextObject(enumerator.get(), object.out(), &returned);
        if (FAILED(result) || object.get() == nullptr || returned == 0)
            break;
        rows.push_back(ReadHotfixRow(object.get(), columns));
    }
    return 1;
}

int AddHotfixList(const WmiCalls& calls) {
    try {
        if (wmiConnected == 0 && ConnectToWmi(calls) == 0)
            return 0;
        HotfixRowTable rows;
        QueryHotfixRows(HOTFIX_COLUMNS, rows, calls);
        return AddMemoryEntry(L"info\\hotfixes.html", BuildHotfixPage(HOTFIX_COLUMNS, rows));
    } catch (const std::bad_alloc&) {
        // Out of memory while the page was built: no entry, the build goes on.
        return 0;
    }
}
