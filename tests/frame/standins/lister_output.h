// What the stand-in lister writes, shared with the tests that check captures.
#pragma once

#include <string>
#include <vector>

struct ListerWrite {
    bool toStandardError;
    std::string bytes;
};

const char LINGER_LISTER_TEXT[] = "lister: closing its output and staying\r\n";

// Over 4096 bytes on each stream, NUL and high bytes included, in an order
// that a capture must keep.
inline std::vector<ListerWrite> ChattyListerWrites() {
    std::vector<ListerWrite> writes;
    for (int block = 0; block < 6; ++block) {
        std::string bytes;
        for (int i = 0; i < 1500; ++i)
            bytes += static_cast<char>((block * 131 + i * 7) % 256);
        bytes += block % 2 ? "\r\nstderr block\r\n" : "\r\nstdout block\r\n";
        writes.push_back({block % 2 == 1, bytes});
    }
    writes.push_back({false, std::string(5000, 'o') + "\r\n"});
    writes.push_back({true, std::string(5000, 'e') + "\r\n"});
    return writes;
}

inline std::string ChattyListerCapture() {
    std::string all;
    for (const ListerWrite& piece : ChattyListerWrites())
        all += piece.bytes;
    return all;
}
