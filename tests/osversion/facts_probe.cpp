// Writes the OS version entry's text, as this process is told it, to standard output.
// Built twice: with the program's compatibility manifest and without one.
#include "os_version.h"

#include <windows.h>

int main() {
    std::string text = CollectOsVersionText();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return written == text.size() ? 0 : 1;
}
