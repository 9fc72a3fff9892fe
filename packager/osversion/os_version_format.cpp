#include "os_version_format.h"

#include "shared_helpers.h"

#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include <cwchar>
#include <sstream>

namespace {

struct EditionRow {
    DWORD productType;
    const wchar_t* name;
};

// Three names end in a blank; support staff have always seen them that way.
const EditionRow editionNames[] = {
    {1, L"Ultimate"}, {2, L"Home Basic "}, {3, L"Home Premium"}, {4, L"Enterprise"},
    {5, L"Home Basic N"}, {6, L"Business"}, {7, L"Standard"}, {8, L"Datacenter (full)"},
    {9, L"Small Business"}, {10, L"Enterprise (full)"}, {11, L"Starter"},
    {12, L"Datacenter (core)"}, {13, L"Standard (core)"}, {14, L"Enterprise (core)"},
    {15, L"Enterprise for Itanium-based Systems"}, {16, L"Business N"}, {17, L"Web (full)"},
    {18, L"HPC Edition"}, {19, L"Storage Server 2008 R2 Essentials"}, {20, L"Storage Express"},
    {21, L"Storage Standard"}, {22, L"Storage Workgroup"}, {23, L"Storage Enterprise"},
    {24, L"Essential Solutions"}, {25, L"Small Business Premium"}, {26, L"Home Premium N"},
    {27, L"Enterprise N"}, {28, L"Ultimate N"}, {29, L"Web (core)"},
    {30, L"Essential Business Management"}, {31, L"Essential Business Security"},
    {32, L"Essential Business Messaging"}, {33, L"Foundation"}, {34, L"Home Server 2011"},
    {35, L"without Hyper-V for Essential Solutions"}, {36, L"Standard without Hyper-V"},
    {37, L"Datacenter without Hyper-V (full)"}, {38, L"Enterprise without Hyper-V (full)"},
    {39, L"Datacenter without Hyper-V (core)"}, {40, L"Standard without Hyper-V (core)"},
    {41, L"Enterprise without Hyper-V (core) "}, {42, L"Hyper-V"},
    {43, L"Storage Express (core)"}, {44, L"Storage Standard (core)"},
    {45, L"Storage Workgroup (core)"}, {46, L"Storage Enterprise (core)"}, {47, L"Starter N"},
    {48, L"Professional"}, {49, L"Professional N"}, {50, L"Small Business 2011 Essentials"},
    {51, L"SB Solutions"}, {52, L"Solutions Premium "}, {53, L"Solutions Premium (core)"},
    {54, L"SB Solutions EM"}, {55, L"SB Solutions EM"}, {56, L"MultiPoint"},
    {59, L"Essential Solution Management"}, {60, L"Essential Solution Additional"},
    {61, L"Essential Solution Management SVC"}, {62, L"Essential Solution Additional SVC"},
    {63, L"Small Business Premium (core)"}, {64, L"Hyper Core V"}, {66, L"Starter E"},
    {67, L"Not supported"}, {68, L"Home Premium E"}, {69, L"Professional E"},
    {70, L"Not supported"}, {71, L"Ultimate E"}, {72, L"Enterprise (evaluation)"},
    {76, L"MultiPoint Standard (full)"}, {77, L"MultiPoint Premium (full)"},
    {79, L"Standard (evaluation)"}, {80, L"Datacenter (evaluation)"},
    {84, L"Enterprise N (evaluation)"}, {95, L"Storage Workgroup (evaluation)"},
    {96, L"Storage Standard (evaluation)"}, {98, L"Standard N"}, {99, L"Standard China"},
    {100, L"Standard Single Language"}, {101, L"Standard"},
    {103, L"Professional with Media Center"},
};

const char* const suiteNames[16] = {
    "SMALLBUSINESS ", "ENTERPRISE ", "BACKOFFICE ", "COMMUNICATIONS ", "TERMINAL ",
    "SMALLBUSINESS_RESTRICTED ", "EMBEDDEDNT ", "DATACENTER ", "SINGLEUSERTS ", "PERSONAL ",
    "BLADE ", "EMBEDDED_RESTRICTED ", "SECURITY_APPLIANCE ", "STORAGE_SERVER ",
    "COMPUTE_SERVER ", "HOME_SERVER ",
};

const WORD ARCH_X86 = 0;
const WORD ARCH_ITANIUM = 6;
const WORD ARCH_X64 = 9;

bool HasSuite(WORD mask, WORD bit) { return (mask & bit) != 0; }

void AppendBitness(wchar_t* buffer, WORD architecture) {
    if (architecture == ARCH_X64)
        AppendToDisplay(buffer, L", 64-bit");
    else if (architecture == ARCH_X86)
        AppendToDisplay(buffer, L", 32-bit");
}

// Versions 6.0 to 6.2: name, edition, bitness.
void AppendVersion6Name(const OsNameFacts& facts, wchar_t* buffer) {
    bool workstation = facts.version.wProductType == VER_NT_WORKSTATION;
    switch (facts.version.dwMinorVersion) {
    case 2: AppendToDisplay(buffer, workstation ? L"Windows 8 " : L"Windows Server 2012"); break;
    case 1: AppendToDisplay(buffer, workstation ? L"Windows 7 " : L"Windows Server 2008 R2"); break;
    default: AppendToDisplay(buffer, workstation ? L"Windows Vista " : L"Windows Server 2008 "); break;
    }
    AppendEditionText(buffer, facts.productInfoFound, facts.productType);
    AppendBitness(buffer, facts.architecture);
}

const wchar_t* ServerEditionSuffix(WORD suite, WORD architecture) {
    if (architecture == ARCH_ITANIUM) {
        if (HasSuite(suite, VER_SUITE_DATACENTER))
            return L"Datacenter Edition for Itanium-based Systems";
        if (HasSuite(suite, VER_SUITE_ENTERPRISE))
            return L"Enterprise Edition for Itanium-based Systems";
        return L"";
    }
    if (architecture == ARCH_X64) {
        if (HasSuite(suite, VER_SUITE_DATACENTER))
            return L"Datacenter x64 Edition";
        if (HasSuite(suite, VER_SUITE_ENTERPRISE))
            return L"Enterprise x64 Edition";
        return L"Standard x64 Edition";
    }
    if (HasSuite(suite, VER_SUITE_COMPUTE_SERVER))
        return L"Compute Cluster Edition";
    if (HasSuite(suite, VER_SUITE_DATACENTER))
        return L"Datacenter Edition";
    if (HasSuite(suite, VER_SUITE_ENTERPRISE))
        return L"Enterprise Edition";
    if (HasSuite(suite, VER_SUITE_BLADE))
        return L"Web Edition";
    if (HasSuite(suite, VER_SUITE_SMALLBUSINESS_RESTRICTED))
        return L"Small Business Edition";
    return L"Standard Edition";
}

void AppendVersion52Name(const OsNameFacts& facts, wchar_t* buffer) {
    WORD suite = facts.version.wSuiteMask;
    bool workstation = facts.version.wProductType == VER_NT_WORKSTATION;
    if (facts.serverR2 != 0)
        AppendToDisplay(buffer, L"Windows Server 2003 R2, ");
    else if (suite == VER_SUITE_STORAGE_SERVER)
        AppendToDisplay(buffer, L"Windows Storage Server 2003");
    else if (suite == VER_SUITE_WH_SERVER)
        AppendToDisplay(buffer, L"Windows Home Server");
    else if (workstation && facts.architecture == ARCH_X64)
        AppendToDisplay(buffer, L"Windows XP Professional x64 Edition");
    else
        AppendToDisplay(buffer, L"Windows Server 2003, ");
    if (!workstation)
        AppendToDisplay(buffer, ServerEditionSuffix(suite, facts.architecture));
}

void AppendVersion51Name(const OsNameFacts& facts, wchar_t* buffer) {
    AppendToDisplay(buffer, L"Windows XP ");
    AppendToDisplay(buffer, HasSuite(facts.version.wSuiteMask, VER_SUITE_PERSONAL) ? L"Home Edition"
                                                                                    : L"Professional");
}

void AppendVersion50Name(const OsNameFacts& facts, wchar_t* buffer) {
    WORD suite = facts.version.wSuiteMask;
    AppendToDisplay(buffer, L"Windows 2000 ");
    if (facts.version.wProductType == VER_NT_WORKSTATION)
        AppendToDisplay(buffer, L"Professional");
    else if (HasSuite(suite, VER_SUITE_DATACENTER))
        AppendToDisplay(buffer, L"Datacenter Server");
    else if (HasSuite(suite, VER_SUITE_ENTERPRISE))
        AppendToDisplay(buffer, L"Advanced Server");
    else
        AppendToDisplay(buffer, L"Server");
}

}  // namespace

bool NeedsEditionName(const OSVERSIONINFOEXW& version) {
    return version.dwMajorVersion == 6 && version.dwMinorVersion <= 2;
}

const wchar_t* EditionName(DWORD productType) {
    for (const EditionRow& row : editionNames)
        if (row.productType == productType)
            return row.name;
    return L"Unknown product";
}

void AppendToDisplay(wchar_t* buffer, const wchar_t* text) {
    // A cut append is fine: the name is for reading, the numbers follow on their own lines.
    StringCchCatW(buffer, OS_DISPLAY_UNITS, text);
}

void AppendEditionText(wchar_t* buffer, bool productInfoFound, DWORD productType) {
    if (productInfoFound)
        AppendToDisplay(buffer, EditionName(productType));
}

int ComposeOsDisplayString(const OsNameFacts& facts, wchar_t* buffer) {
    const OSVERSIONINFOEXW& version = facts.version;
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion <= 4)
        return 0;
    StringCchCopyW(buffer, OS_DISPLAY_UNITS, L"");
    if (NeedsEditionName(version))
        AppendVersion6Name(facts, buffer);
    else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 2)
        AppendVersion52Name(facts, buffer);
    else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 1)
        AppendVersion51Name(facts, buffer);
    else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0)
        AppendVersion50Name(facts, buffer);

    // The record's own array may lack a terminator when it is not filled by Windows.
    const size_t csdUnits = sizeof(version.szCSDVersion) / sizeof(version.szCSDVersion[0]);
    wchar_t servicePack[csdUnits + 1] = {};
    wmemcpy(servicePack, version.szCSDVersion, wcsnlen(version.szCSDVersion, csdUnits));
    if (servicePack[0] != L'\0') {
        AppendToDisplay(buffer, L" ");
        AppendToDisplay(buffer, servicePack);
    }
    wchar_t build[80] = {};
    StringCchPrintfW(build, 80, L" (build %lu)", static_cast<unsigned long>(version.dwBuildNumber));
    AppendToDisplay(buffer, build);
    return 1;
}

std::string SuiteMaskNames(WORD suiteMask) {
    std::string names;
    for (int bit = 0; bit < 16; ++bit)
        if (suiteMask & (1u << bit))
            names += suiteNames[bit];
    return names;
}

const char* ProductTypeName(BYTE productType) {
    switch (productType) {
    case VER_NT_WORKSTATION: return "WORKSTATION";
    case VER_NT_DOMAIN_CONTROLLER: return "DOMAIN_CONTROLLER";
    case VER_NT_SERVER: return "SERVER";
    default: return "UNKNOWN !!";
    }
}

std::string FormatOsVersionEntry(const OSVERSIONINFOEXW& version, const wchar_t* display,
                                 BOOL is64BitOS, BOOL isWow64Process) {
    std::ostringstream out;
    out << "Operating System:  " << (display != nullptr ? NarrowByTruncation(display) : "UNKNOWN") << "\r\n";
    out << "Suitemask:         0x" << std::hex << std::uppercase << version.wSuiteMask << std::dec
        << " ( " << SuiteMaskNames(version.wSuiteMask) << ")\r\n";
    out << "MajorVersion:      " << version.dwMajorVersion << "\r\n";
    out << "MinorVersion:      " << version.dwMinorVersion << "\r\n";
    out << "ServicePackMajor:  " << version.wServicePackMajor << "\r\n";
    out << "ServicePackMinor:  " << version.wServicePackMinor << "\r\n";
    out << "BuildNumber:       " << version.dwBuildNumber << "\r\n";
    out << "PlatformId:        " << version.dwPlatformId << "\r\n";
    out << "ProductType:       " << static_cast<unsigned>(version.wProductType) << " ( "
        << ProductTypeName(version.wProductType) << " )\r\n";
    out << "Is64BitOS:         " << (is64BitOS ? 1 : 0) << "\r\n";
    out << "IsWow64Process:    " << (isWow64Process ? 1 : 0) << "\r\n";
    return out.str();
}
