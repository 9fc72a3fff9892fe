// The independent reader of the host tests: zlib's raw inflater.
#include <zlib.h>

#include <cstring>

#include "deflate_harness.h"

namespace deflatetest {

bool inflateRaw(const Bytes& stream, Bytes& output, std::string& message)
{
    output.clear();
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK) {
        message = "inflateInit2 failed";
        return false;
    }
    Bytes chunk(1 << 16);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    int status;
    do {
        z.next_out = chunk.data();
        z.avail_out = uInt(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        output.insert(output.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    } while (status == Z_OK);
    bool ok = status == Z_STREAM_END;
    if (!ok)
        message = "inflate: " + std::to_string(status) + (z.msg ? std::string(" ") + z.msg : "");
    else if (z.avail_in != 0) {
        ok = false;
        message = std::to_string(z.avail_in) + " bytes after the end of the stream";
    }
    inflateEnd(&z);
    return ok;
}

}  // namespace deflatetest
