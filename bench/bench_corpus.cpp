#include "bench_corpus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace benchcorpus {

namespace {

// Under Wine the machine's root is drive Z:.
std::string nativePath(const std::string& path)
{
#ifdef _WIN32
    return "Z:" + path;
#else
    return path;
#endif
}

bool readFile(const std::string& path, Bytes& out, size_t limit = SIZE_MAX)
{
    std::ifstream in(nativePath(path), std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() > limit)
        out.resize(limit);
    return !out.empty();
}

std::vector<std::string> listDirectory(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(nativePath(dir).c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isRegularFile(const std::string& path, off_t* size = nullptr)
{
    struct stat st;
    if (stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = st.st_size;
    return true;
}

uint64_t nextRandom(uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

void appendUtf16(Bytes& out, const std::string& text)
{
    for (char ch : text) {
        out.push_back(uint8_t(ch));
        out.push_back(0);
    }
}

// What the registry collector writes: UTF-16LE with a byte-order mark, keys,
// string values, dwords and hex dumps.
Bytes makeRegistryExport(size_t targetBytes)
{
    static const char* const PARTS[] = {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion",
                                        "Services", "Control", "Class", "Enum", "Parameters",
                                        "Policies", "Explorer", "Installer", "Products",
                                        "Components", "Uninstall", "Run", "Setup", "Drivers",
                                        "Network", "Tcpip", "Interfaces", "Security", "Morquaine"};
    static const char* const NAMES[] = {"DisplayName", "ImagePath", "Start", "Type",
                                        "ErrorControl", "ObjectName", "Description",
                                        "InstallLocation", "Version", "Publisher", "Group",
                                        "DependOnService", "Tag", "FailureActions"};
    const size_t partCount = sizeof PARTS / sizeof PARTS[0];
    const size_t nameCount = sizeof NAMES / sizeof NAMES[0];
    uint64_t state = 0x1234567;
    Bytes out = {0xFF, 0xFE};
    appendUtf16(out, "Windows Registry Editor Version 5.00\r\n\r\n");
    char buffer[256];
    while (out.size() < targetBytes) {
        std::string key = "[HKEY_LOCAL_MACHINE";
        int depth = 2 + int(nextRandom(state) % 4);
        for (int i = 0; i < depth; ++i)
            key += std::string("\\") + PARTS[nextRandom(state) % partCount];
        if (nextRandom(state) % 3 == 0) {
            std::snprintf(buffer, sizeof buffer, "\\{%08X-%04X-%04X-%04X-%012llX}",
                          unsigned(nextRandom(state)), unsigned(nextRandom(state) & 0xFFFF),
                          unsigned(nextRandom(state) & 0xFFFF), unsigned(nextRandom(state) & 0xFFFF),
                          (unsigned long long)(nextRandom(state) & 0xFFFFFFFFFFFFull));
            key += buffer;
        }
        appendUtf16(out, key + "]\r\n");
        int values = 1 + int(nextRandom(state) % 6);
        for (int v = 0; v < values; ++v) {
            const char* name = NAMES[nextRandom(state) % nameCount];
            switch (nextRandom(state) % 4) {
            case 0:
                std::snprintf(buffer, sizeof buffer, "\"%s\"=dword:%08x\r\n", name,
                              unsigned(nextRandom(state) % 5000));
                break;
            case 1:
                std::snprintf(buffer, sizeof buffer,
                              "\"%s\"=\"C:\\\\Program Files\\\\%s\\\\%s%u.exe\"\r\n", name,
                              PARTS[nextRandom(state) % partCount],
                              PARTS[nextRandom(state) % partCount],
                              unsigned(nextRandom(state) % 100));
                break;
            case 2:
                std::snprintf(buffer, sizeof buffer, "\"%s\"=\"%s %s\"\r\n", name,
                              PARTS[nextRandom(state) % partCount],
                              NAMES[nextRandom(state) % nameCount]);
                break;
            default: {
                std::string line = std::string("\"") + name + "\"=hex:";
                int n = 8 + int(nextRandom(state) % 40);
                for (int i = 0; i < n; ++i) {
                    std::snprintf(buffer, sizeof buffer, "%02x%s",
                                  unsigned(nextRandom(state) % 7 == 0 ? nextRandom(state) & 0xFF : 0),
                                  i + 1 < n ? "," : "");
                    line += buffer;
                    if (i % 24 == 23 && i + 1 < n)
                        line += "\\\r\n  ";
                }
                std::snprintf(buffer, sizeof buffer, "%s\r\n", line.c_str());
                appendUtf16(out, line + "\r\n");
                buffer[0] = 0;
            }
            }
            if (buffer[0])
                appendUtf16(out, buffer);
        }
        appendUtf16(out, "\r\n");
    }
    return out;
}

}  // namespace

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Text: return "text";
    case Kind::Binary: return "binary";
    case Kind::Compressed: return "compressed";
    case Kind::Random: return "random";
    }
    return "?";
}

const char* const WINE_PE_DIRECTORIES[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows/",
                                           "/usr/lib/x86_64-linux-gnu/wine/i386-windows/",
                                           "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/"};

std::vector<CorpusFile> largeFiles()
{
    std::vector<CorpusFile> corpus;
    corpus.push_back({"registry export (UTF-16LE)", Kind::Text, makeRegistryExport(6 << 20)});

    const char* peNames[] = {"kernelbase.dll", "user32.dll", "comctl32.dll", "ntdll.dll",
                             "shell32.dll"};
    for (const char* dir : WINE_PE_DIRECTORIES) {
        size_t found = 0;
        for (const char* name : peNames) {
            CorpusFile file{std::string(name), Kind::Binary, {}};
            if (readFile(std::string(dir) + name, file.data, 8u << 20)) {
                corpus.push_back(std::move(file));
                ++found;
            }
        }
        if (found != 0)
            break;
    }

    CorpusFile licenses{"common licenses (plain text)", Kind::Text, {}};
    for (const std::string& name : listDirectory("/usr/share/common-licenses")) {
        Bytes part;
        std::string path = "/usr/share/common-licenses/" + name;
        if (isRegularFile(path) && readFile(path, part))
            licenses.data.insert(licenses.data.end(), part.begin(), part.end());
    }
    if (!licenses.data.empty())
        corpus.push_back(std::move(licenses));

    CorpusFile copyrights{"doc copyright files (plain text)", Kind::Text, {}};
    std::string largestGz;
    off_t largestGzSize = 0;
    for (const std::string& package : listDirectory("/usr/share/doc")) {
        std::string dir = "/usr/share/doc/" + package + "/";
        Bytes part;
        if (copyrights.data.size() < (4u << 20) && isRegularFile(dir + "copyright") &&
            readFile(dir + "copyright", part))
            copyrights.data.insert(copyrights.data.end(), part.begin(), part.end());
        for (const std::string& name : listDirectory(dir)) {
            off_t size = 0;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0 &&
                isRegularFile(dir + name, &size) && size > largestGzSize && size <= (8 << 20)) {
                largestGz = dir + name;
                largestGzSize = size;
            }
        }
    }
    if (!copyrights.data.empty())
        corpus.push_back(std::move(copyrights));
    if (!largestGz.empty()) {
        CorpusFile gz{largestGz.substr(largestGz.rfind("/doc/") + 5), Kind::Compressed, {}};
        if (readFile(largestGz, gz.data))
            corpus.push_back(std::move(gz));
    }

    CorpusFile random{"random bytes", Kind::Random, Bytes(4u << 20)};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& b : random.data)
        b = uint8_t(nextRandom(state) >> 32);
    corpus.push_back(std::move(random));
    return corpus;
}


std::vector<CorpusFile> smallFiles()
{
    const off_t smallest = 1024, largest = 40 * 1024;
    std::vector<CorpusFile> files;
    size_t seen = 0;
    for (const std::string& package : listDirectory("/usr/share/doc")) {
        std::string dir = "/usr/share/doc/" + package + "/";
        for (const std::string& name : listDirectory(dir)) {
            off_t size = 0;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0)
                continue;
            if (!isRegularFile(dir + name, &size) || size < smallest || size > largest)
                continue;
            CorpusFile file{package + "/" + name, Kind::Text, {}};
            if (seen++ % 3 == 0 && files.size() < 260 && readFile(dir + name, file.data))
                files.push_back(std::move(file));
        }
    }
    for (const char* dir : WINE_PE_DIRECTORIES) {
        size_t found = 0;
        for (const std::string& name : listDirectory(dir)) {
            off_t size = 0;
            CorpusFile file{name, Kind::Binary, {}};
            if (isRegularFile(dir + name, &size) && size >= smallest && size <= largest &&
                readFile(dir + name, file.data)) {
                files.push_back(std::move(file));
                ++found;
            }
        }
        if (found != 0)
            break;
    }
    return files;
}

std::vector<CorpusFile> listedFiles(const std::string& listPath)
{
    std::vector<CorpusFile> files;
    std::ifstream list(nativePath(listPath));
    std::string path;
    while (std::getline(list, path)) {
        CorpusFile file{path, Kind::Binary, {}};
        if (!path.empty() && isRegularFile(path) && readFile(path, file.data))
            files.push_back(std::move(file));
    }
    return files;
}

}  // namespace benchcorpus
