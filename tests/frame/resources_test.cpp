// The built dossierkit.exe: dialog template 129, manifest, version block,
// icon and the image's characteristics, read from the file itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct LoadedImage {
    HMODULE module = nullptr;
    LoadedImage() {
        module = LoadLibraryExW(testsupport::BuiltProgram(L"dossierkit.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
    }
    ~LoadedImage() {
        if (module)
            FreeLibrary(module);
    }
    std::string Resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceW(module, name, type);
        if (!found)
            return std::string();
        HGLOBAL data = LoadResource(module, found);
        return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(module, found));
    }
};

// Reads an extended dialog template field by field.
struct TemplateReader {
    const std::string& bytes;
    size_t at = 0;
    uint16_t Word() {
        uint16_t v;
        memcpy(&v, bytes.data() + at, 2);
        at += 2;
        return v;
    }
    uint32_t Dword() {
        uint32_t v;
        memcpy(&v, bytes.data() + at, 4);
        at += 4;
        return v;
    }
    // A string, an ordinal (returned as "#n") or nothing ("").
    std::wstring SzOrOrd() {
        uint16_t first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring text;
        for (uint16_t c = first; c != 0; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { at = (at + 3) & ~size_t(3); }
};

struct ControlItem {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    std::wstring windowClass, title;
    uint16_t extraCount;
};

}  // namespace

TEST(DossierkitResources, DialogTemplate129IsExactlyAsDesigned) {
    LoadedImage image;
    ASSERT_NE(nullptr, image.module);
    std::string bytes = image.Resource(RT_DIALOG, MAKEINTRESOURCEW(129));
    ASSERT_FALSE(bytes.empty());
    TemplateReader r{bytes};
    EXPECT_EQ(1, r.Word());
    EXPECT_EQ(0xFFFF, r.Word()) << "an extended template";
    EXPECT_EQ(0u, r.Dword()) << "help id";
    EXPECT_EQ(0u, r.Dword()) << "extended style";
    EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), r.Dword());
    EXPECT_EQ(2, r.Word()) << "controls";
    EXPECT_EQ(0, static_cast<int16_t>(r.Word()));
    EXPECT_EQ(0, static_cast<int16_t>(r.Word()));
    EXPECT_EQ(335, static_cast<int16_t>(r.Word()));
    EXPECT_EQ(125, static_cast<int16_t>(r.Word()));
    EXPECT_EQ(L"", r.SzOrOrd()) << "menu";
    EXPECT_EQ(L"", r.SzOrOrd()) << "class";
    EXPECT_EQ(L"Morquaine QEV Scan ZRPK Creator", r.SzOrOrd());
    EXPECT_EQ(9, r.Word()) << "points";
    EXPECT_EQ(400, r.Word()) << "weight";
    EXPECT_EQ(0, bytes[r.at++]) << "italic";
    EXPECT_EQ(0, bytes[r.at++]) << "character set";
    EXPECT_EQ(L"Microsoft Sans Serif", r.SzOrOrd());

    std::vector<ControlItem> items;
    for (int i = 0; i < 2; ++i) {
        r.AlignDword();
        ControlItem item;
        item.helpId = r.Dword();
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Word();
        item.y = r.Word();
        item.cx = r.Word();
        item.cy = r.Word();
        item.id = r.Dword();
        item.windowClass = r.SzOrOrd();
        item.title = r.SzOrOrd();
        item.extraCount = r.Word();
        items.push_back(item);
    }
    EXPECT_EQ(bytes.size(), (r.at + 3) & ~size_t(3)) << "nothing after the two controls";

    const ControlItem& bar = items[0];
    EXPECT_EQ(1000u, bar.id);
    EXPECT_EQ(L"msctls_progress32", bar.windowClass);
    EXPECT_EQ(static_cast<uint32_t>(WS_CHILD | WS_VISIBLE), bar.style);
    EXPECT_EQ(6, bar.x);
    EXPECT_EQ(6, bar.y);
    EXPECT_EQ(322, bar.cx);
    EXPECT_EQ(9, bar.cy);

    const ControlItem& log = items[1];
    EXPECT_EQ(1001u, log.id);
    EXPECT_EQ(L"#129", log.windowClass) << "the predefined edit class, atom 0x0081";
    EXPECT_EQ(static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_MULTILINE |
                                    ES_AUTOHSCROLL | ES_READONLY),
              log.style);
    EXPECT_EQ(6, log.x);
    EXPECT_EQ(18, log.y);
    EXPECT_EQ(323, log.cx);
    EXPECT_EQ(102, log.cy);
    for (const ControlItem& item : items) {
        EXPECT_EQ(0u, item.helpId);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(L"", item.title);
        EXPECT_EQ(0, item.extraCount);
    }
}

TEST(DossierkitResources, ManifestAsksForAdministratorAndNamesFiveSystems) {
    LoadedImage image;
    std::string manifest = image.Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos,
              manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));
    const char* systems[] = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",   // Vista
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   // 7
                             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   // 8
                             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   // 8.1
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};  // 10
    size_t count = 0;
    for (size_t at = manifest.find("<supportedOS"); at != std::string::npos;
         at = manifest.find("<supportedOS", at + 1))
        ++count;
    EXPECT_EQ(5u, count);
    for (const char* id : systems)
        EXPECT_NE(std::string::npos, manifest.find(id)) << id;
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls"));
    EXPECT_EQ(std::string::npos, manifest.find("dependency"));
}

TEST(DossierkitResources, VersionBlockAndIcon) {
    LoadedImage image;
    std::string version = image.Resource(RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_GT(version.size(), sizeof(VS_FIXEDFILEINFO));
    std::wstring wide(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
    EXPECT_NE(std::wstring::npos, wide.find(L"Morquaine QEV Scan ZRPK Creator"));
    EXPECT_NE(std::wstring::npos, wide.find(L"dossierkit.exe"));
    EXPECT_FALSE(image.Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(100)).empty());
}

TEST(DossierkitImage, IsA32BitGuiProgramWithoutTheTerminalServerMark) {
    std::string file = testsupport::ReadFileBytes(testsupport::BuiltProgram(L"dossierkit.exe"));
    ASSERT_GT(file.size(), 0x400u);
    IMAGE_DOS_HEADER dos;
    memcpy(&dos, file.data(), sizeof(dos));
    IMAGE_NT_HEADERS32 nt;
    memcpy(&nt, file.data() + dos.e_lfanew, sizeof(nt));
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt.FileHeader.Machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt.OptionalHeader.Subsystem);
    EXPECT_EQ(0, nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
}
