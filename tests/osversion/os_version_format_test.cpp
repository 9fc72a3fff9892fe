// Tables for the OS version entry: display names, edition names and the entry layout.
#include "os_version_format.h"
#include "shared_helpers.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

const WORD X86 = 0, ARM = 5, ITANIUM = 6, X64 = 9, ARM64 = 12;
const DWORD NO_PRODUCT_INFO = 0xFFFFFFFF;  // marks "GetProductInfo does not exist"

struct NameCase {
    const char* what;
    DWORD major, minor, build;
    BYTE productType;
    WORD suite;
    const wchar_t* servicePack;
    WORD architecture;
    int serverR2;
    DWORD edition;
    const wchar_t* expected;  // nullptr: no display string
};

OsNameFacts FactsOf(const NameCase& c) {
    OsNameFacts facts = {};
    facts.version.dwOSVersionInfoSize = sizeof(facts.version);
    facts.version.dwMajorVersion = c.major;
    facts.version.dwMinorVersion = c.minor;
    facts.version.dwBuildNumber = c.build;
    facts.version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    facts.version.wProductType = c.productType;
    facts.version.wSuiteMask = c.suite;
    wcsncpy(facts.version.szCSDVersion, c.servicePack, 127);
    facts.architecture = c.architecture;
    facts.serverR2 = c.serverR2;
    facts.productInfoFound = c.edition != NO_PRODUCT_INFO;
    facts.productType = facts.productInfoFound ? c.edition : 0;
    return facts;
}

const NameCase nameCases[] = {
    // Versions the naming does not know: service pack and build only.
    {"10.0", 10, 0, 19045, 1, 0x100, L"", X64, 0, 48, L" (build 19045)"},
    {"10.0 server", 10, 0, 20348, 3, 0x110, L"", X64, 0, 8, L" (build 20348)"},
    {"6.3", 6, 3, 9600, 1, 0, L"", X64, 0, 48, L" (build 9600)"},
    {"6.4", 6, 4, 9841, 1, 0, L"Preview", X86, 0, 48, L" Preview (build 9841)"},
    {"5.3", 5, 3, 1, 1, 0, L"", X86, 0, 48, L" (build 1)"},
    {"7.0", 7, 0, 5, 3, 0, L"", X64, 0, 48, L" (build 5)"},
    // 6.0 to 6.2: name, edition, bitness.
    {"7 x64 SP1", 6, 1, 7601, 1, 0x100, L"Service Pack 1", X64, 0, 48,
     L"Windows 7 Professional, 64-bit Service Pack 1 (build 7601)"},
    {"2012 touches edition", 6, 2, 9200, 3, 0x110, L"", X64, 0, 8,
     L"Windows Server 2012Datacenter (full), 64-bit (build 9200)"},
    {"8 x86", 6, 2, 9200, 1, 0, L"", X86, 0, 4, L"Windows 8 Enterprise, 32-bit (build 9200)"},
    {"2008 R2 touches edition", 6, 1, 7601, 3, 0, L"Service Pack 1", X64, 0, 7,
     L"Windows Server 2008 R2Standard, 64-bit Service Pack 1 (build 7601)"},
    {"Vista edition ends in blank", 6, 0, 6002, 1, 0, L"Service Pack 2", X86, 0, 2,
     L"Windows Vista Home Basic , 32-bit Service Pack 2 (build 6002)"},
    {"2008 domain controller is a server", 6, 0, 6001, 2, 0, L"", X64, 0, 10,
     L"Windows Server 2008 Enterprise (full), 64-bit (build 6001)"},
    {"product type 0 is a server", 6, 1, 7600, 0, 0, L"", X86, 0, 7,
     L"Windows Server 2008 R2Standard, 32-bit (build 7600)"},
    {"ARM: no bitness", 6, 2, 9200, 1, 0, L"", ARM, 0, 97, L"Windows 8 Unknown product (build 9200)"},
    {"ARM64: no bitness", 6, 2, 9200, 1, 0, L"Service Pack 1", ARM64, 0, 101,
     L"Windows 8 Standard Service Pack 1 (build 9200)"},
    {"Itanium 6.1: no bitness", 6, 1, 7601, 3, 0, L"", ITANIUM, 0, 15,
     L"Windows Server 2008 R2Enterprise for Itanium-based Systems (build 7601)"},
    {"no GetProductInfo: bitness still", 6, 1, 7601, 1, 0, L"", X64, 0, NO_PRODUCT_INFO,
     L"Windows 7 , 64-bit (build 7601)"},
    {"unknown edition 104", 6, 1, 7601, 1, 0, L"", X64, 0, 104,
     L"Windows 7 Unknown product, 64-bit (build 7601)"},
    // 5.1 and 5.0.
    {"XP Professional", 5, 1, 2600, 1, 0, L"Service Pack 3", X86, 0, 0,
     L"Windows XP Professional Service Pack 3 (build 2600)"},
    {"XP Home", 5, 1, 2600, 1, 0x200, L"", X86, 0, 0, L"Windows XP Home Edition (build 2600)"},
    {"XP ignores product type", 5, 1, 2600, 3, 0x300, L"", X64, 0, 0,
     L"Windows XP Home Edition (build 2600)"},
    {"2000 Professional", 5, 0, 2195, 1, 0x80, L"Service Pack 4", X86, 0, 0,
     L"Windows 2000 Professional Service Pack 4 (build 2195)"},
    {"2000 Datacenter before Advanced", 5, 0, 2195, 3, 0x82, L"", X86, 0, 0,
     L"Windows 2000 Datacenter Server (build 2195)"},
    {"2000 Advanced", 5, 0, 2195, 2, 0x02, L"", X86, 0, 0, L"Windows 2000 Advanced Server (build 2195)"},
    {"2000 Server", 5, 0, 2195, 3, 0x10, L"", X86, 0, 0, L"Windows 2000 Server (build 2195)"},
    // 5.2, the name rules in their order.
    {"R2 wins over storage", 5, 2, 3790, 3, 0x2000, L"", X86, 1, 0,
     L"Windows Server 2003 R2, Standard Edition (build 3790)"},
    {"R2 workstation: no suffix", 5, 2, 3790, 1, 0, L"", X64, 1, 0, L"Windows Server 2003 R2,  (build 3790)"},
    {"storage exactly", 5, 2, 3790, 3, 0x2000, L"Service Pack 2", X86, 0, 0,
     L"Windows Storage Server 2003Standard Edition Service Pack 2 (build 3790)"},
    {"storage with another bit", 5, 2, 3790, 3, 0x2010, L"", X86, 0, 0,
     L"Windows Server 2003, Standard Edition (build 3790)"},
    {"home server exactly", 5, 2, 3790, 3, 0x8000, L"", X86, 0, 0,
     L"Windows Home ServerStandard Edition (build 3790)"},
    {"home server before XP x64", 5, 2, 3790, 1, 0x8000, L"", X64, 0, 0,
     L"Windows Home Server (build 3790)"},
    {"XP x64", 5, 2, 3790, 1, 0x0110, L"Service Pack 2", X64, 0, 0,
     L"Windows XP Professional x64 Edition Service Pack 2 (build 3790)"},
    {"5.2 workstation x86", 5, 2, 3790, 1, 0, L"", X86, 0, 0, L"Windows Server 2003,  (build 3790)"},
    // 5.2 server suffixes by architecture.
    {"x64 datacenter before enterprise", 5, 2, 3790, 3, 0x82, L"", X64, 0, 0,
     L"Windows Server 2003, Datacenter x64 Edition (build 3790)"},
    {"x64 enterprise", 5, 2, 3790, 2, 0x02, L"", X64, 0, 0,
     L"Windows Server 2003, Enterprise x64 Edition (build 3790)"},
    {"x64 compute is standard", 5, 2, 3790, 3, 0x4000, L"", X64, 0, 0,
     L"Windows Server 2003, Standard x64 Edition (build 3790)"},
    {"Itanium datacenter", 5, 2, 3790, 3, 0x82, L"", ITANIUM, 0, 0,
     L"Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790)"},
    {"Itanium enterprise", 5, 2, 3790, 3, 0x02, L"", ITANIUM, 0, 0,
     L"Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790)"},
    {"Itanium plain: no suffix", 5, 2, 3790, 3, 0x400, L"SP1", ITANIUM, 0, 0,
     L"Windows Server 2003,  SP1 (build 3790)"},
    {"compute cluster first", 5, 2, 3790, 3, 0x40A2, L"", X86, 0, 0,
     L"Windows Server 2003, Compute Cluster Edition (build 3790)"},
    {"datacenter", 5, 2, 3790, 3, 0x04A2, L"", X86, 0, 0,
     L"Windows Server 2003, Datacenter Edition (build 3790)"},
    {"enterprise", 5, 2, 3790, 3, 0x0422, L"", X86, 0, 0,
     L"Windows Server 2003, Enterprise Edition (build 3790)"},
    {"web", 5, 2, 3790, 3, 0x0420, L"", X86, 0, 0, L"Windows Server 2003, Web Edition (build 3790)"},
    {"small business", 5, 2, 3790, 3, 0x0021, L"", ARM, 0, 0,
     L"Windows Server 2003, Small Business Edition (build 3790)"},
    {"standard", 5, 2, 3790, 0, 0x0001, L"", X86, 0, 0,
     L"Windows Server 2003, Standard Edition (build 3790)"},
    // No name at all.
    {"NT 4", 4, 0, 1381, 1, 0, L"Service Pack 6a", X86, 0, 0, nullptr},
    {"major 3", 3, 51, 1057, 1, 0, L"", X86, 0, 0, nullptr},
};

TEST(OsDisplayString, NamesEveryVersionAsDocumented) {
    for (const NameCase& c : nameCases) {
        wchar_t buffer[OS_DISPLAY_UNITS];
        wmemset(buffer, L'#', OS_DISPLAY_UNITS);
        int named = ComposeOsDisplayString(FactsOf(c), buffer);
        if (c.expected == nullptr) {
            EXPECT_EQ(0, named) << c.what;
            continue;
        }
        EXPECT_EQ(1, named) << c.what;
        EXPECT_EQ(std::wstring(c.expected), std::wstring(buffer)) << c.what;
    }
}

TEST(OsDisplayString, OnlyTheNtPlatformIsNamed) {
    OsNameFacts facts = FactsOf(nameCases[6]);
    for (DWORD platform : {0u, 1u, 3u}) {
        facts.version.dwPlatformId = platform;
        wchar_t buffer[OS_DISPLAY_UNITS] = {};
        EXPECT_EQ(0, ComposeOsDisplayString(facts, buffer)) << platform;
    }
}

TEST(OsDisplayString, ServicePackWithoutTerminatorStaysInItsArray) {
    OsNameFacts facts = FactsOf(nameCases[0]);
    wmemset(facts.version.szCSDVersion, L'S', 128);
    wchar_t buffer[OS_DISPLAY_UNITS] = {};
    ASSERT_EQ(1, ComposeOsDisplayString(facts, buffer));
    EXPECT_EQ(L" " + std::wstring(128, L'S') + L" (build 19045)", std::wstring(buffer));
}

TEST(OsDisplayString, AppendsAreCutToTheBufferAndStayTerminated) {
    wchar_t buffer[OS_DISPLAY_UNITS + 1];
    buffer[OS_DISPLAY_UNITS] = L'!';
    wmemset(buffer, L'a', 505);
    buffer[505] = L'\0';
    AppendToDisplay(buffer, L"0123456789");
    EXPECT_EQ(std::wstring(505, L'a') + L"012345", std::wstring(buffer));
    AppendToDisplay(buffer, L"more");
    EXPECT_EQ(511u, wcslen(buffer));
    EXPECT_EQ(L'!', buffer[OS_DISPLAY_UNITS]);
}

TEST(EditionName, EveryNamedEditionAndTheUnknownOnes) {
    struct Row { DWORD type; const wchar_t* name; };
    const Row named[] = {
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
    ASSERT_EQ(81u, sizeof(named) / sizeof(named[0]));
    for (const Row& row : named)
        EXPECT_EQ(std::wstring(row.name), EditionName(row.type)) << row.type;

    int namedCount = 0;
    for (DWORD type = 0; type < 300; ++type)
        if (std::wstring(EditionName(type)) != L"Unknown product")
            ++namedCount;
    EXPECT_EQ(81, namedCount);
    for (DWORD type : {0u, 57u, 58u, 65u, 73u, 75u, 78u, 81u, 83u, 85u, 94u, 97u, 102u, 104u,
                       0xABCDu, 0xFFFFFFFFu})
        EXPECT_EQ(std::wstring(L"Unknown product"), EditionName(type)) << type;
}

TEST(EditionName, AppendedOnlyWhenGetProductInfoExists) {
    wchar_t buffer[OS_DISPLAY_UNITS] = L"Windows 7 ";
    AppendEditionText(buffer, false, 48);
    EXPECT_EQ(std::wstring(L"Windows 7 "), buffer);
    AppendEditionText(buffer, true, 41);
    EXPECT_EQ(std::wstring(L"Windows 7 Enterprise without Hyper-V (core) "), buffer);
}

TEST(OsVersionEntry, SuiteMaskLine) {
    struct Row { WORD mask; const char* line; };
    const Row rows[] = {
        {0x0000, "Suitemask:         0x0 ( )"},
        {0x0110, "Suitemask:         0x110 ( TERMINAL SINGLEUSERTS )"},
        {0x8000, "Suitemask:         0x8000 ( HOME_SERVER )"},
        {0x00AB, "Suitemask:         0xAB ( SMALLBUSINESS ENTERPRISE COMMUNICATIONS "
                 "SMALLBUSINESS_RESTRICTED DATACENTER )"},
        {0xFFFF, "Suitemask:         0xFFFF ( SMALLBUSINESS ENTERPRISE BACKOFFICE COMMUNICATIONS "
                 "TERMINAL SMALLBUSINESS_RESTRICTED EMBEDDEDNT DATACENTER SINGLEUSERTS PERSONAL "
                 "BLADE EMBEDDED_RESTRICTED SECURITY_APPLIANCE STORAGE_SERVER COMPUTE_SERVER "
                 "HOME_SERVER )"},
    };
    for (const Row& row : rows) {
        OSVERSIONINFOEXW version = {};
        version.wSuiteMask = row.mask;
        version.dwMajorVersion = 12;  // decimal again after the hexadecimal digits
        std::string entry = FormatOsVersionEntry(version, L"x", FALSE, FALSE);
        EXPECT_NE(std::string::npos, entry.find(std::string("\r\n") + row.line + "\r\nMajorVersion:      12\r\n"))
            << entry;
    }
}

TEST(OsVersionEntry, ProductTypeLine) {
    struct Row { BYTE type; const char* line; };
    const Row rows[] = {
        {0, "ProductType:       0 ( UNKNOWN !! )"}, {1, "ProductType:       1 ( WORKSTATION )"},
        {2, "ProductType:       2 ( DOMAIN_CONTROLLER )"}, {3, "ProductType:       3 ( SERVER )"},
        {4, "ProductType:       4 ( UNKNOWN !! )"}, {255, "ProductType:       255 ( UNKNOWN !! )"},
    };
    for (const Row& row : rows) {
        OSVERSIONINFOEXW version = {};
        version.wProductType = row.type;
        std::string entry = FormatOsVersionEntry(version, L"x", FALSE, FALSE);
        EXPECT_NE(std::string::npos, entry.find(std::string("\r\n") + row.line + "\r\n")) << entry;
    }
}

TEST(OsVersionEntry, WholeEntryOf64BitWindows7) {
    NameCase c = nameCases[6];
    OsNameFacts facts = FactsOf(c);
    facts.version.wServicePackMajor = 1;
    wchar_t display[OS_DISPLAY_UNITS] = {};
    ASSERT_EQ(1, ComposeOsDisplayString(facts, display));
    EXPECT_EQ("Operating System:  Windows 7 Professional, 64-bit Service Pack 1 (build 7601)\r\n"
              "Suitemask:         0x100 ( SINGLEUSERTS )\r\n"
              "MajorVersion:      6\r\n"
              "MinorVersion:      1\r\n"
              "ServicePackMajor:  1\r\n"
              "ServicePackMinor:  0\r\n"
              "BuildNumber:       7601\r\n"
              "PlatformId:        2\r\n"
              "ProductType:       1 ( WORKSTATION )\r\n"
              "Is64BitOS:         1\r\n"
              "IsWow64Process:    1\r\n",
              FormatOsVersionEntry(facts.version, display, TRUE, TRUE));
}

TEST(OsVersionEntry, Windows10HasThreeBlanksBeforeTheBuild) {
    OsNameFacts facts = FactsOf(nameCases[0]);
    wchar_t display[OS_DISPLAY_UNITS] = {};
    ASSERT_EQ(1, ComposeOsDisplayString(facts, display));
    std::string entry = FormatOsVersionEntry(facts.version, display, FALSE, FALSE);
    EXPECT_EQ(0u, entry.find("Operating System:   (build 19045)\r\n"
                             "Suitemask:         0x100 ( SINGLEUSERTS )\r\n"
                             "MajorVersion:      10\r\nMinorVersion:      0\r\n"));
    EXPECT_NE(std::string::npos, entry.find("Is64BitOS:         0\r\nIsWow64Process:    0\r\n"));
}

TEST(OsVersionEntry, ZeroedRecordWithoutDisplayString) {
    OSVERSIONINFOEXW version = {};
    EXPECT_EQ("Operating System:  UNKNOWN\r\n"
              "Suitemask:         0x0 ( )\r\n"
              "MajorVersion:      0\r\n"
              "MinorVersion:      0\r\n"
              "ServicePackMajor:  0\r\n"
              "ServicePackMinor:  0\r\n"
              "BuildNumber:       0\r\n"
              "PlatformId:        0\r\n"
              "ProductType:       0 ( UNKNOWN !! )\r\n"
              "Is64BitOS:         0\r\n"
              "IsWow64Process:    0\r\n",
              FormatOsVersionEntry(version, nullptr, FALSE, FALSE));
}

TEST(OsVersionEntry, LargeNumbersAreUnsigned) {
    OSVERSIONINFOEXW version = {};
    version.dwBuildNumber = 0xFFFFFFFF;
    version.wServicePackMajor = 0xFFFF;
    std::string entry = FormatOsVersionEntry(version, nullptr, FALSE, FALSE);
    EXPECT_NE(std::string::npos, entry.find("BuildNumber:       4294967295\r\n"));
    EXPECT_NE(std::string::npos, entry.find("ServicePackMajor:  65535\r\n"));
}

TEST(OsVersionEntry, DisplayTextKeepsTheLowByteOfEveryCodeUnit) {
    // U+0141 gives 0x41, U+20AC gives 0xAC, U+00E9 stays 0xE9, U+0100 gives a NUL byte.
    OsNameFacts facts = FactsOf(nameCases[6]);
    wcscpy(facts.version.szCSDVersion, L"Pack \u0141\u20AC\u00E9\u0100!");
    wchar_t display[OS_DISPLAY_UNITS] = {};
    ASSERT_EQ(1, ComposeOsDisplayString(facts, display));
    std::string entry = FormatOsVersionEntry(facts.version, display, FALSE, FALSE);
    const char expectedBytes[] =
        "Operating System:  Windows 7 Professional, 64-bit Pack A\xAC\xE9\0! (build 7601)\r\n";
    std::string expected(expectedBytes, sizeof(expectedBytes) - 1);
    EXPECT_EQ(expected, entry.substr(0, expected.size()));
    EXPECT_EQ(std::string("A\xAC\xE9", 3), NarrowByTruncation(L"\u0141\u20AC\u00E9"));
}

}  // namespace
