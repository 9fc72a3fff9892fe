#pragma once

#include <windows.h>

#include <string>

// The maker's upload web page; the success message and the browser start use it.
extern const char UPLOAD_PAGE_ADDRESS[];

// The success message, naming the package and the upload page.
std::wstring UploadOfferText();

// The command line that opens the upload page in the default browser, with
// rundll32.exe named by its full path in systemDirectory.
std::string UploadCommandLine(const char* systemDirectory);

// How the upload page was started: with the identity of the desktop shell's
// user, with this program's own where no shell identity can be had, or not.
enum UploadStart { UPLOAD_NOT_STARTED, UPLOAD_STARTED_AS_SHELL_USER, UPLOAD_STARTED_AS_PROGRAM };

// Starts the browser on the upload page and waits for nothing. The program
// reports no failure; the result is for tests.
UploadStart OpenUploadPage();

// The elevation type of this program's token (TokenElevationType); tests put
// their own here.
extern TOKEN_ELEVATION_TYPE (*queryOwnElevationType)();
