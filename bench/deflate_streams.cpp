// Writes every stream our compressor makes for the benchmark's inputs and for
// listed files into one file, so that two builds of the compressor can be
// compared byte for byte (scripts/compare-deflate-streams.sh).
//
// Usage: deflate_streams [--fresh] [--chunk N] OUTPUT [LISTFILE]
//   --fresh     a new context per input instead of one for all, in input order
//   --chunk N   reads deliver at most N bytes each (default: all they are asked)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "deflate.h"

using namespace benchcorpus;

namespace {

struct Streams {
    const Bytes* input;
    size_t position;
    size_t chunk;
    Bytes output;
};

uint32_t readChunk(DeflateContext* context, uint8_t* buffer, uint32_t size)
{
    Streams& s = *static_cast<Streams*>(context->owner);
    size_t n = std::min<size_t>(size, s.input->size() - s.position);
    if (s.chunk != 0 && n > s.chunk)
        n = s.chunk;
    std::memcpy(buffer, s.input->data() + s.position, n);
    s.position += n;
    return uint32_t(n);
}

void append(void* owner, uint8_t* buffer, uint32_t* fill)
{
    Streams& s = *static_cast<Streams*>(owner);
    s.output.insert(s.output.end(), buffer, buffer + *fill);
    *fill = 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool fresh = false;
    size_t chunk = 0;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "--fresh") == 0)
            fresh = true;
        else if (std::strcmp(argv[arg], "--chunk") == 0 && arg + 1 < argc)
            chunk = std::strtoul(argv[++arg], nullptr, 10);
    }
    if (arg >= argc) {
        std::fprintf(stderr, "usage: deflate_streams [--fresh] [--chunk N] OUTPUT [LISTFILE]\n");
        return 2;
    }
    FILE* out = std::fopen(argv[arg], "wb");
    if (out == nullptr)
        return 2;
    std::vector<CorpusFile> inputs = largeFiles();
    std::vector<CorpusFile> small = smallFiles();
    inputs.insert(inputs.end(), small.begin(), small.end());
    if (arg + 1 < argc) {
        std::vector<CorpusFile> listed = listedFiles(argv[arg + 1]);
        inputs.insert(inputs.end(), listed.begin(), listed.end());
    }
    inputs.push_back({"empty", Kind::Binary, {}});

    static uint8_t ioBuffer[DEFLATE_OUTPUT_SIZE];
    DeflateContext* context = nullptr;
    size_t failures = 0, inputBytes = 0, streamBytes = 0;
    for (const CorpusFile& file : inputs) {
        if (fresh || context == nullptr) {
            destroyDeflateContext(context);
            context = createDeflateContext();
        }
        Streams s{&file.data, 0, chunk, {}};
        context->owner = &s;
        context->readCallback = readChunk;
        context->flushCallback = append;
        context->outputBuffer = ioBuffer;
        context->outputSize = sizeof ioBuffer;
        uint32_t size = runDeflate(*context);
        if (context->errorText != nullptr || size != s.output.size())
            ++failures;
        std::fprintf(out, "%s %zu %zu\n", file.name.c_str(), file.data.size(), s.output.size());
        std::fwrite(s.output.data(), 1, s.output.size(), out);
        inputBytes += file.data.size();
        streamBytes += s.output.size();
    }
    destroyDeflateContext(context);
    std::fclose(out);
    std::printf("%zu streams, %zu input bytes, %zu stream bytes, %zu failures\n", inputs.size(),
                inputBytes, streamBytes, failures);
    return failures == 0 ? 0 : 1;
}
