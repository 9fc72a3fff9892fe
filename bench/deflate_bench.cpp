// Compresses a corpus found or made on this machine with our deflate and with
// zlib at level 8 (raw, 15-bit window, memLevel 8) in the same process, and
// prints sizes, throughputs and their ratios: per large file and in total, and
// over a set of small files compressed one after another as the archive
// writer does. Builds for the host and for the 32-bit Windows build (run it
// under Wine; the figure that counts).
//
// Usage: deflate_bench [--quick]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "crc32.h"
#include "deflate.h"
#include "memory_streams.h"

using namespace benchcorpus;

namespace {

// Our compressor as the archive writer runs it: entries one after another on
// one context, output through the 16384-byte buffer, reads into the window.
// A build of the older sources (DEFLATE_BENCH_FRESH_CONTEXT) makes a context
// per entry instead, as its archive writer did.
class OurCompressor {
public:
    OurCompressor() : context_(nullptr) {}
    ~OurCompressor() { destroyDeflateContext(context_); }

    size_t compress(const Bytes& input, Bytes& output)
    {
#ifdef DEFLATE_BENCH_FRESH_CONTEXT
        destroyDeflateContext(context_);
        context_ = nullptr;
#endif
        if (context_ == nullptr)
            context_ = createDeflateContext();
        if (context_ == nullptr)
            return 0;
        MemoryStreams m{&input, 0, output.data(), output.size(), 0};
        attachMemoryStreams(*context_, m, ioBuffer_, sizeof ioBuffer_);
        uint32_t size = runDeflate(*context_);
        bool ok = context_->errorText == nullptr && size == m.written;
        if (!ok)
            std::fprintf(stderr, "our deflate failed: %s\n",
                         context_->errorText ? context_->errorText : "size mismatch");
        return ok ? m.written : 0;
    }

private:
    DeflateContext* context_;
    uint8_t ioBuffer_[DEFLATE_OUTPUT_SIZE];
};

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

// The best time of each of two tasks over several runs (three each at least,
// or one in a quick run), at least minSeconds in all. The runs alternate, so
// that a change in the load of this shared machine weighs on both alike.
double minSeconds = 0.6;
int minRuns = 3;

struct BestSeconds {
    double first = 1e30, second = 1e30;
};

template <typename F>
double secondsOf(F run)
{
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename F, typename G>
BestSeconds bestSecondsInTurn(F first, G second)
{
    BestSeconds best;
    double total = 0;
    for (int runs = 0; runs < minRuns || total < minSeconds; ++runs) {
        double a = secondsOf(first), b = secondsOf(second);
        best.first = std::min(best.first, a);
        best.second = std::min(best.second, b);
        total += a + b;
    }
    return best;
}

struct Totals {
    double zlibSeconds = 0, ourSeconds = 0;
    size_t input = 0, zlib = 0, ours = 0;

    double speedRatio() const { return zlibSeconds / ourSeconds; }
    double sizeRatio() const { return double(ours) / double(zlib); }
};

size_t ourOutputBound(const Bytes& input)
{
    return input.size() + input.size() / 1000 + 1024;
}

struct Checks {
    bool sizesOk = true, growthOk = true, correct = true;
};

void printRow(const std::string& name, const char* kind, const Totals& t)
{
    double mb = double(t.input) / 1e6;
    std::printf("%-34s %-10s %10zu %10zu %10zu %8.4f %9.1f %9.1f %7.3f\n", name.substr(0, 34).c_str(),
                kind, t.input, t.zlib, t.ours, t.sizeRatio(), mb / t.zlibSeconds, mb / t.ourSeconds,
                t.speedRatio());
}

Totals benchLargeFiles(const std::vector<CorpusFile>& corpus, OurCompressor& ours, Checks& checks)
{
    Totals total;
    for (const CorpusFile& file : corpus) {
        Bytes zlibOut(deflateBound(nullptr, uLong(file.data.size())) + 1024);
        Bytes ourOut(ourOutputBound(file.data));
        Totals t;
        t.input = file.data.size();
        BestSeconds best = bestSecondsInTurn([&] { t.zlib = compressZlib(file.data, zlibOut); },
                                             [&] { t.ours = ours.compress(file.data, ourOut); });
        t.zlibSeconds = best.first;
        t.ourSeconds = best.second;
        if (t.ours == 0 || !inflatesTo(ourOut.data(), t.ours, file.data)) {
            std::printf("%s: OUR OUTPUT DOES NOT INFLATE TO THE INPUT\n", file.name.c_str());
            checks.correct = false;
        }
        printRow(file.name, kindName(file.kind), t);
        if ((file.kind == Kind::Text || file.kind == Kind::Binary) && t.sizeRatio() > 1.01)
            checks.sizesOk = false;
        if (file.kind == Kind::Random || file.kind == Kind::Compressed) {
            size_t blocks = (file.data.size() + 32767) / 32768;
            long growth = long(t.ours) - long(file.data.size());
            if (growth > long(5 * blocks + 5))
                checks.growthOk = false;
            std::printf("%-34s growth %ld bytes for %zu blocks of 32 KiB (%.2f per block)\n", "",
                        growth, blocks, double(growth) / double(blocks));
        }
        total.zlibSeconds += t.zlibSeconds;
        total.ourSeconds += t.ourSeconds;
        total.input += t.input;
        total.zlib += t.zlib;
        total.ours += t.ours;
    }
    return total;
}

// The small files one after another, each pass timed as a whole.
Totals benchSmallFiles(const std::vector<CorpusFile>& files, OurCompressor& ours,
                       Checks& checks)
{
    std::vector<Bytes> zlibOut, ourOut;
    Totals t;
    for (const CorpusFile& file : files) {
        zlibOut.emplace_back(deflateBound(nullptr, uLong(file.data.size())) + 1024);
        ourOut.emplace_back(ourOutputBound(file.data));
        t.input += file.data.size();
    }
    std::vector<size_t> zlibSizes(files.size()), ourSizes(files.size());
    BestSeconds best = bestSecondsInTurn(
        [&] {
            for (size_t i = 0; i < files.size(); ++i)
                zlibSizes[i] = compressZlib(files[i].data, zlibOut[i]);
        },
        [&] {
            for (size_t i = 0; i < files.size(); ++i)
                ourSizes[i] = ours.compress(files[i].data, ourOut[i]);
        });
    t.zlibSeconds = best.first;
    t.ourSeconds = best.second;
    for (size_t i = 0; i < files.size(); ++i) {
        t.zlib += zlibSizes[i];
        t.ours += ourSizes[i];
        if (ourSizes[i] == 0 || !inflatesTo(ourOut[i].data(), ourSizes[i], files[i].data)) {
            std::printf("%s: OUR OUTPUT DOES NOT INFLATE TO THE INPUT\n", files[i].name.c_str());
            checks.correct = false;
        }
    }
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--quick") == 0) {
        minSeconds = 0;
        minRuns = 1;
    }
    std::vector<CorpusFile> corpus = largeFiles();
    std::vector<CorpusFile> small = smallFiles();
    OurCompressor ours;
    Checks checks;

    std::printf("%-34s %-10s %10s %10s %10s %8s %9s %9s %7s\n", "file", "kind", "input",
                "zlib -8", "ours", "size", "zlib MB/s", "ours MB/s", "speed");
    Totals large = benchLargeFiles(corpus, ours, checks);
    printRow("TOTAL (large files)", "", large);
    Totals smallTotals = benchSmallFiles(small, ours, checks);
    printRow(std::to_string(small.size()) + " small files (1-40 KB)", "", smallTotals);

    // CRC-32 of the large corpus, ours against zlib's.
    uint32_t ourCrc = 0, zlibCrc = 0;
    BestSeconds crcBest = bestSecondsInTurn(
        [&] {
            zlibCrc = 0;
            for (const CorpusFile& f : corpus)
                zlibCrc = uint32_t(crc32(zlibCrc, f.data.data(), uInt(f.data.size())));
        },
        [&] {
            ourCrc = 0;
            for (const CorpusFile& f : corpus)
                ourCrc = updateCrc32(ourCrc, f.data.data(), uint32_t(f.data.size()));
        });
    double zlibCrcSeconds = crcBest.first, ourCrcSeconds = crcBest.second;
    double totalMb = double(large.input) / 1e6;
    std::printf("CRC-32: ours %.0f MB/s, zlib %.0f MB/s, values %s\n", totalMb / ourCrcSeconds,
                totalMb / zlibCrcSeconds, ourCrc == zlibCrc ? "equal" : "DIFFER");

    std::printf("sizes within 1%% of zlib -8 on text and binary: %s\n", checks.sizesOk ? "yes" : "NO");
    std::printf("incompressible growth <= 5 bytes per 32 KiB block: %s\n", checks.growthOk ? "yes" : "NO");
    std::printf("large files: zlib time / our time %.3f, size ours / zlib %.4f\n", large.speedRatio(),
                large.sizeRatio());
    std::printf("small files: zlib time / our time %.3f, size ours / zlib %.4f\n",
                smallTotals.speedRatio(), smallTotals.sizeRatio());
    std::printf("every output inflates to its input: %s\n", checks.correct ? "yes" : "NO");
    return checks.correct && ourCrc == zlibCrc ? 0 : 1;
}
