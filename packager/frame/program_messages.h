#pragma once

#include <windows.h>

// Every box of the program has no owner and this caption.
extern const wchar_t PROGRAM_CAPTION[];

extern const wchar_t NOT_ADMINISTRATOR_TEXT[];
extern const wchar_t CONFIRM_PACKAGE_TEXT[];
extern const wchar_t PACKAGE_FAILED_TEXT[];
extern const wchar_t NO_DESKTOP_TEXT[];
extern const wchar_t CREATE_FAILED_TEXT[];

int ShowProgramMessage(const wchar_t* text, UINT style);
