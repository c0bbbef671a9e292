// Fuzz target over the GIF block walk: any bytes, with or without a valid
// header. The counting walk and the frame extraction must agree, every cut
// frame must be the header, the frame's bytes and a trailer, and no walk
// may read outside the input (the sanitizers watch).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gif_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    GifHeader header;
    GifParseState s;
    if (ReadGifHeader(data, size, &header)) {
        s = StartGifParse(data, uint32_t(size), header);
    } else {
        // Too short for a header: walk the bytes themselves; there is no
        // header for a cut frame, so only the counting walk runs.
        s.data = data;
        s.size = uint32_t(size);
        CountGraphicBlocks(s);
        return 0;
    }
    const uint32_t count = CountGraphicBlocks(s);
    const uint32_t prefix = 13 + s.globalColorTableSize;
    uint32_t extracted = 0;
    GifFrame frame;
    for (;;) {
        const uint32_t before = s.pos;
        if (!ExtractFrame(s, &frame))
            break;
        ++extracted;
        if (s.pos <= before || s.pos > s.size)
            abort();
        if (frame.gif.size() < prefix + 2 || frame.gif.back() != 0x3B ||
            std::memcmp(frame.gif.data(), data, prefix) != 0)
            abort();
        const uint32_t body = uint32_t(frame.gif.size()) - prefix - 1;
        if (std::memcmp(frame.gif.data() + prefix, data + s.pos - body, body) != 0)
            abort();
        if (frame.disposal > 7 || frame.delay > 0xFFFF)
            abort();
    }
    if (extracted != count)
        abort();
    return 0;
}
