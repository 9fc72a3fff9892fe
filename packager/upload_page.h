#pragma once

#include <string>

// The maker's upload web page; the success message and the browser start use it.
extern const char UPLOAD_PAGE_ADDRESS[];

// The success message, naming the package and the upload page.
std::wstring UploadOfferText();

// The command line that opens the upload page in the default browser, with
// rundll32.exe named by its full path in systemDirectory.
std::string UploadCommandLine(const char* systemDirectory);

// Starts the browser on the upload page; a failure is not reported.
void OpenUploadPage();
