#pragma once
// A BSTR owned for the length of a scope, and the ANSI form of a wide string,
// for the strings handed to and read back from WMI.
#include <windows.h>
#include <oleauto.h>
#include <string>

class BstrText {
public:
    explicit BstrText(const wchar_t* text) : bstr_(SysAllocString(text)) {}
    ~BstrText() { SysFreeString(bstr_); }
    BstrText(const BstrText&) = delete;
    BstrText& operator=(const BstrText&) = delete;

    BSTR get() const { return bstr_; }
    bool allocated() const { return bstr_ != nullptr; }

private:
    BSTR bstr_;
};

// The text up to its first NUL in the ANSI code page (CP_ACP, flags 0, no
// default character); empty for a null pointer or a failed conversion.
std::string WideToAnsi(const wchar_t* text);
