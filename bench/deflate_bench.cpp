// Compresses a corpus found or made on this machine with our deflate and with
// zlib at level 8 (raw, 15-bit window, memLevel 8) in the same process, and
// prints sizes, throughputs and their ratios per file and in total.
//
// Usage: deflate_bench [--quick]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "crc32.h"
#include "deflate.h"
#include "memory_streams.h"

namespace {

typedef std::vector<uint8_t> Bytes;

enum class Kind { Text, Binary, Compressed, Random };

struct CorpusFile {
    std::string name;
    Kind kind;
    Bytes data;
};

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

bool readFile(const std::string& path, Bytes& out, size_t limit = SIZE_MAX)
{
    std::ifstream in(path, std::ios::binary);
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
    if (DIR* d = opendir(dir.c_str())) {
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
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
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

std::vector<CorpusFile> gatherCorpus()
{
    std::vector<CorpusFile> corpus;
    corpus.push_back({"registry export (UTF-16LE)", Kind::Text, makeRegistryExport(6 << 20)});

    const char* peDirectories[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows/",
                                   "/usr/lib/x86_64-linux-gnu/wine/i386-windows/",
                                   "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/"};
    const char* peNames[] = {"kernelbase.dll", "user32.dll", "comctl32.dll", "ntdll.dll",
                             "shell32.dll"};
    for (const char* dir : peDirectories) {
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

// ---- the two compressors --------------------------------------------------------

// One entry as the archive writer runs it: a fresh context, the 16384-byte
// output buffer, reads straight into the window.
size_t compressOurs(const Bytes& input, Bytes& output)
{
    static uint8_t ioBuffer[DEFLATE_OUTPUT_SIZE];
    MemoryStreams m{&input, 0, output.data(), output.size(), 0};
    DeflateContext* context = createDeflateContext();
    if (context == nullptr)
        return 0;
    attachMemoryStreams(*context, m, ioBuffer, sizeof ioBuffer);
    uint32_t size = runDeflate(*context);
    bool ok = context->errorText == nullptr && size == m.written;
    if (!ok)
        std::fprintf(stderr, "our deflate failed: %s\n",
                     context->errorText ? context->errorText : "size mismatch");
    destroyDeflateContext(context);
    return ok ? m.written : 0;
}

size_t compressZlib(const Bytes& input, Bytes& output)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return 0;
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = uInt(input.size());
    z.next_out = output.data();
    z.avail_out = uInt(output.size());
    int status = deflate(&z, Z_FINISH);
    size_t written = z.total_out;
    deflateEnd(&z);
    return status == Z_STREAM_END ? written : 0;
}

bool inflatesTo(const uint8_t* stream, size_t length, const Bytes& expected)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    Bytes out(expected.size() + 1);
    z.next_in = const_cast<Bytef*>(stream);
    z.avail_in = uInt(length);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int status = inflate(&z, Z_FINISH);
    bool ok = status == Z_STREAM_END && z.total_out == expected.size() && z.avail_in == 0 &&
              std::memcmp(out.data(), expected.data(), expected.size()) == 0;
    inflateEnd(&z);
    return ok;
}

// Best of several runs, at least minSeconds in all.
template <typename F>
double bestSeconds(F run, double minSeconds)
{
    using Clock = std::chrono::steady_clock;
    double best = 1e30, total = 0;
    int runs = 0;
    while (runs < 3 || total < minSeconds) {
        auto start = Clock::now();
        run();
        double s = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, s);
        total += s;
        ++runs;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const double minSeconds = quick ? 0.05 : 0.6;
    std::vector<CorpusFile> corpus = gatherCorpus();

    std::printf("%-34s %-10s %10s %10s %10s %8s %9s %9s %7s\n", "file", "kind", "input",
                "zlib -8", "ours", "size", "zlib MB/s", "ours MB/s", "speed");
    double totalZlibSeconds = 0, totalOurSeconds = 0;
    size_t totalInput = 0, totalZlib = 0, totalOurs = 0;
    bool sizesOk = true, growthOk = true, correct = true;

    for (const CorpusFile& file : corpus) {
        Bytes zlibOut(deflateBound(nullptr, uLong(file.data.size())) + 1024);
        Bytes ourOut(file.data.size() + file.data.size() / 1000 + 1024);
        size_t zlibSize = 0, ourSize = 0;
        double zlibSeconds = bestSeconds([&] { zlibSize = compressZlib(file.data, zlibOut); }, minSeconds);
        double ourSeconds = bestSeconds([&] { ourSize = compressOurs(file.data, ourOut); }, minSeconds);
        if (ourSize == 0 || !inflatesTo(ourOut.data(), ourSize, file.data)) {
            std::printf("%s: OUR OUTPUT DOES NOT INFLATE TO THE INPUT\n", file.name.c_str());
            correct = false;
        }
        double mb = double(file.data.size()) / 1e6;
        double sizeRatio = double(ourSize) / double(zlibSize);
        double speedRatio = zlibSeconds / ourSeconds;
        std::printf("%-34s %-10s %10zu %10zu %10zu %8.4f %9.1f %9.1f %7.3f\n",
                    file.name.substr(0, 34).c_str(), kindName(file.kind), file.data.size(),
                    zlibSize, ourSize, sizeRatio, mb / zlibSeconds, mb / ourSeconds, speedRatio);
        if ((file.kind == Kind::Text || file.kind == Kind::Binary) && sizeRatio > 1.01)
            sizesOk = false;
        if (file.kind == Kind::Random || file.kind == Kind::Compressed) {
            size_t blocks = (file.data.size() + 32767) / 32768;
            if (ourSize > file.data.size() + 5 * blocks + 5)
                growthOk = false;
            std::printf("%-34s growth %zd bytes for %zu blocks of 32 KiB (%.2f per block)\n", "",
                        ssize_t(ourSize) - ssize_t(file.data.size()), blocks,
                        double(ssize_t(ourSize) - ssize_t(file.data.size())) / double(blocks));
        }
        totalZlibSeconds += zlibSeconds;
        totalOurSeconds += ourSeconds;
        totalInput += file.data.size();
        totalZlib += zlibSize;
        totalOurs += ourSize;
    }
    double totalMb = double(totalInput) / 1e6;
    double totalSpeedRatio = totalZlibSeconds / totalOurSeconds;
    std::printf("%-34s %-10s %10zu %10zu %10zu %8.4f %9.1f %9.1f %7.3f\n", "TOTAL", "", totalInput,
                totalZlib, totalOurs, double(totalOurs) / double(totalZlib),
                totalMb / totalZlibSeconds, totalMb / totalOurSeconds, totalSpeedRatio);

    // CRC-32 of the whole corpus, ours against zlib's.
    uint32_t ourCrc = 0, zlibCrc = 0;
    double ourCrcSeconds = bestSeconds([&] {
        ourCrc = 0;
        for (const CorpusFile& f : corpus)
            ourCrc = updateCrc32(ourCrc, f.data.data(), uint32_t(f.data.size()));
    }, minSeconds);
    double zlibCrcSeconds = bestSeconds([&] {
        zlibCrc = 0;
        for (const CorpusFile& f : corpus)
            zlibCrc = uint32_t(crc32(zlibCrc, f.data.data(), uInt(f.data.size())));
    }, minSeconds);
    std::printf("CRC-32: ours %.0f MB/s, zlib %.0f MB/s, values %s\n", totalMb / ourCrcSeconds,
                totalMb / zlibCrcSeconds, ourCrc == zlibCrc ? "equal" : "DIFFER");

    std::printf("sizes within 1%% of zlib -8 on text and binary: %s\n", sizesOk ? "yes" : "NO");
    std::printf("incompressible growth <= 5 bytes per 32 KiB block: %s\n", growthOk ? "yes" : "NO");
    std::printf("total throughput ratio >= 1.0: %s (%.3f)\n", totalSpeedRatio >= 1.0 ? "yes" : "NO",
                totalSpeedRatio);
    std::printf("every output inflates to its input: %s\n", correct ? "yes" : "NO");
    return correct && ourCrc == zlibCrc ? 0 : 1;
}
