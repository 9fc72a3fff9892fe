// The inputs of the benchmark and of the stream comparison, made or found on
// this machine at run time (nothing is downloaded). Built for the host and,
// run under Wine, for the 32-bit Windows build: paths are the machine's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchcorpus {

typedef std::vector<uint8_t> Bytes;

enum class Kind { Text, Binary, Compressed, Random };

struct CorpusFile {
    std::string name;
    Kind kind;
    Bytes data;
};

const char* kindName(Kind kind);

// About 35 MB: registry-export-like UTF-16LE text, Wine's PE DLLs, licence
// and copyright texts, the largest .gz under /usr/share/doc, random bytes.
std::vector<CorpusFile> largeFiles();

// About 270 real files of 1 to 40 KB, the size of most package entries: every
// third plain file directly in a /usr/share/doc package folder (compressed
// ones left out: the archive stores those) and Wine's small PE files.
std::vector<CorpusFile> smallFiles();

// The files named one per line in listPath (absolute paths of this machine).
std::vector<CorpusFile> listedFiles(const std::string& listPath);

}  // namespace benchcorpus
