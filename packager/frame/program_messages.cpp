#include "program_messages.h"

const wchar_t PROGRAM_CAPTION[] = L"Morquaine QEV Scan ZRPK Creator";

const wchar_t NOT_ADMINISTRATOR_TEXT[] = L"Error. This utility requires administrative privileges.";
const wchar_t CONFIRM_PACKAGE_TEXT[] =
    L"This utility will create a ZRPK file (Morquaine Support Request Package) on your Desktop "
    L"folder.\r\nMorquaine's support team might ask you to create such a ZRPK file.\r\nA ZRPK is a "
    L"standard ZIP file containing technical information about your system.\r\n\r\nDo you want to "
    L"proceed ?";
const wchar_t PACKAGE_FAILED_TEXT[] = L"Error. The ZRPK file could not be created!";
const wchar_t NO_DESKTOP_TEXT[] = L"Error. Could not retrieve the Desktop folder path.";
const wchar_t CREATE_FAILED_TEXT[] = L"Error creating zip file!";

int ShowProgramMessage(const wchar_t* text, UINT style) {
    return MessageBoxW(nullptr, text, PROGRAM_CAPTION, style);
}
