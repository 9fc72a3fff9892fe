#include "listing.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>

#include "shared_helpers.h"
#include "ziparchive.h"

namespace {

bool IsDotEntry(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// A junction or symbolic link is listed but never entered: a link back to its
// own folder would make the walk endless, and one to elsewhere would show this
// elevated process's view of a place the link's owner may not read.
bool IsDirectoryToDescend(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};

// Hashes size bytes of data with the default provider's MD5; false on any failure.
bool HashWithMd5(const BYTE* data, DWORD size, BYTE (&value)[16]) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool hashed = false;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET)) {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            DWORD length = sizeof(value);
            hashed = CryptHashData(hash, data, size, 0) &&
                     CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0) &&
                     length == sizeof(value);
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
    return hashed;
}

// Releasing the last context of the default provider unloads it, and loading it
// again costs far more than a digest of a small file (about 10 ms against 0.5 ms
// under Wine). One context held for a whole listing keeps it loaded; each digest
// still acquires and releases its own.
class HashProviderKeptLoaded {
public:
    HashProviderKeptLoaded() {
        if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET))
            provider_ = 0;
    }
    ~HashProviderKeptLoaded() {
        if (provider_ != 0)
            CryptReleaseContext(provider_, 0);
    }
    HashProviderKeptLoaded(const HashProviderKeptLoaded&) = delete;
    HashProviderKeptLoaded& operator=(const HashProviderKeptLoaded&) = delete;

private:
    HCRYPTPROV provider_ = 0;
};

}  // namespace

bool WalkDirectory(const std::wstring& directory, std::list<DirEntryRecord>& records,
                   const wchar_t* pattern) {
    if (pattern == nullptr)
        return false;
    // The trailing backslash of a given directory is dropped once, here, so that
    // every path of the tree below carries single backslashes.
    std::wstring parentDir = WithoutTrailingBackslash(directory);
    std::wstring search = parentDir + L"\\" + pattern;
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(search.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Closed on every way out, a failed allocation deep in the tree included.
    std::unique_ptr<void, decltype(&FindClose)> closeSearch(handle, &FindClose);
    do {
        if (IsDotEntry(found.cFileName))
            continue;
        records.push_back(DirEntryRecord{found, parentDir});
        // Descend at once so that a directory's contents follow its own record.
        if (IsDirectoryToDescend(found.dwFileAttributes))
            WalkDirectory(FullPath(records.back()), records, L"*.*");
    } while (FindNextFileW(handle, &found));
    return true;
}

typedef DWORD(WINAPI* GetFileVersionInfoSizeWFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* GetFileVersionInfoWFn)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueWFn)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

FileVersion LookupFileVersion(const wchar_t* path) {
    static const GetFileVersionInfoSizeWFn getVersionInfoSize =
        reinterpret_cast<GetFileVersionInfoSizeWFn>(reinterpret_cast<void*>(
            SystemLibraryFunction(L"version.dll", "GetFileVersionInfoSizeW")));
    static const GetFileVersionInfoWFn getVersionInfo = reinterpret_cast<GetFileVersionInfoWFn>(
        reinterpret_cast<void*>(SystemLibraryFunction(L"version.dll", "GetFileVersionInfoW")));
    static const VerQueryValueWFn queryVersionValue = reinterpret_cast<VerQueryValueWFn>(
        reinterpret_cast<void*>(SystemLibraryFunction(L"version.dll", "VerQueryValueW")));
    FileVersion version;
    if (getVersionInfoSize == nullptr || getVersionInfo == nullptr || queryVersionValue == nullptr)
        return version;
    DWORD ignored = 0;
    DWORD size = getVersionInfoSize(path, &ignored);
    if (size == 0)
        return version;
    std::unique_ptr<void, FreeDeleter> block(malloc(size));
    if (!block || !getVersionInfo(path, 0, size, block.get()))
        return version;
    void* root = nullptr;
    UINT length = 0;
    if (!queryVersionValue(block.get(), L"\\", &root, &length) || root == nullptr)
        return version;
    const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    if (length != sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
        return version;
    version.present = true;
    version.parts[0] = HIWORD(info->dwFileVersionMS);
    version.parts[1] = LOWORD(info->dwFileVersionMS);
    version.parts[2] = HIWORD(info->dwFileVersionLS);
    version.parts[3] = LOWORD(info->dwFileVersionLS);
    return version;
}

char* Md5OfFile(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    // A file of 4 GiB or more never fits one view of a 32-bit process; refusing it
    // here also keeps the hash from covering only the low half of its size.
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file, &sizeHigh);
    if (size == INVALID_FILE_SIZE || sizeHigh != 0) {
        CloseHandle(file);
        return nullptr;
    }
    // An empty file cannot be mapped, so it ends here with no digest.
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (mapping == nullptr)
        return nullptr;
    const BYTE* view = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    CloseHandle(mapping);
    if (view == nullptr)
        return nullptr;
    BYTE value[16];
    bool hashed = HashWithMd5(view, size, value);
    UnmapViewOfFile(view);
    if (!hashed)
        return nullptr;
    char* text = static_cast<char*>(calloc(33, 1));
    if (text == nullptr)
        return nullptr;
    for (int i = 0; i < 16; ++i)
        snprintf(text + 2 * i, 3, "%02X", static_cast<unsigned>(value[i]));
    return text;
}

std::wstring FormatListingLine(const DirEntryRecord& record) {
    const WIN32_FIND_DATAW& data = record.findData;
    ListingLineFacts facts;
    facts.attributes = data.dwFileAttributes;
    facts.sizeHigh = data.nFileSizeHigh;
    facts.sizeLow = data.nFileSizeLow;
    facts.creationKnown = FileTimeToSystemTime(&data.ftCreationTime, &facts.creationUtc) != FALSE;
    facts.path = FullPath(record);
    facts.version = LookupFileVersion(facts.path.c_str());
    std::unique_ptr<char, FreeDeleter> digest(Md5OfFile(facts.path.c_str()));
    if (digest)
        facts.digest = digest.get();
    return FormatListingFields(facts);
}

std::wstring BuildListingText(const std::list<DirEntryRecord>& records) {
    HashProviderKeptLoaded provider;
    std::wstring text;
    for (const DirEntryRecord& record : records) {
        text += FormatListingLine(record);
        text += L"\r\n";
    }
    return text;
}

bool AddDirectoryListing(const wchar_t* entryName, const wchar_t* directory, const wchar_t* pattern) {
    std::list<DirEntryRecord> records;
    if (directory != nullptr && pattern != nullptr)
        WalkDirectory(directory, records, pattern);
    SortByFullPath(records);
    std::wstring text = BuildListingText(records);
    // An empty text is handed on as well; the archive refuses it, so no entry is made.
    uint32_t bytes = static_cast<uint32_t>(text.size() * sizeof(wchar_t));
    return AddArchiveEntry(packageArchive, entryName, text.c_str(), bytes, SOURCE_MEMORY) == ARC_OK;
}
