#include "gif_parser.h"

#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 13; // signature, version, logical screen descriptor

// Offsets are taken as 64-bit so that a length read from the data can never
// wrap an offset back inside it.
uint8_t ByteAt(const GifParseState& s, uint64_t offset)
{
    return offset < s.size ? s.data[offset] : 0;
}

uint32_t Le16At(const GifParseState& s, uint64_t offset)
{
    return ByteAt(s, offset) | (static_cast<uint32_t>(ByteAt(s, offset + 1)) << 8);
}

uint32_t ColorTableSize(uint8_t packed)
{
    return (packed & 0x80) ? 3u * (2u << (packed & 7)) : 0;
}

bool IsAnnotation(GifBlock kind)
{
    return kind == GifBlock::Application || kind == GifBlock::Comment;
}

bool IsGraphic(GifBlock kind)
{
    return kind == GifBlock::Image || kind == GifBlock::PlainText;
}

// Skips application and comment blocks (and control blocks too when
// controlsToo) until a block of another kind; false when a skip fails.
bool SkipWhile(GifParseState& s, bool controlsToo)
{
    for (;;) {
        GifBlock kind = ClassifyBlock(s);
        if (!IsAnnotation(kind) && !(controlsToo && kind == GifBlock::GraphicControl))
            return true;
        if (!AdvancePastBlock(s))
            return false;
    }
}

// From a control block on: past it, the annotation and control blocks after
// it and the graphic block they lead to.
bool SkipControlledGraphic(GifParseState& s)
{
    if (!AdvancePastBlock(s) || !SkipWhile(s, true) || !IsGraphic(ClassifyBlock(s)))
        return false;
    return AdvancePastBlock(s);
}

} // namespace

bool IsGifSignature(const uint8_t* data, size_t size)
{
    return data && size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

bool ReadGifHeader(const uint8_t* data, size_t size, GifHeader* header)
{
    if (!data || size < kHeaderSize)
        return false;
    header->width = data[6] | (data[7] << 8);
    header->height = data[8] | (data[9] << 8);
    header->globalColorTableSize = ColorTableSize(data[10]);
    header->firstBlock = kHeaderSize + header->globalColorTableSize;
    return true;
}

GifParseState StartGifParse(const uint8_t* data, uint32_t size, const GifHeader& header)
{
    GifParseState s;
    s.data = data;
    s.size = size;
    s.pos = header.firstBlock;
    s.globalColorTableSize = header.globalColorTableSize;
    return s;
}

GifBlock ClassifyBlock(const GifParseState& s)
{
    if (!s.data || s.pos >= s.size)
        return GifBlock::Unknown;
    switch (s.data[s.pos]) {
    case 0x2C:
        return GifBlock::Image;
    case 0x3B:
        return GifBlock::Trailer;
    case 0x21:
        // An introducer in the last byte reads its label as 0: unrecognised.
        switch (ByteAt(s, uint64_t(s.pos) + 1)) {
        case 0xFF:
            return GifBlock::Application;
        case 0xFE:
            return GifBlock::Comment;
        case 0xF9:
            return GifBlock::GraphicControl;
        case 0x01:
            return GifBlock::PlainText;
        default:
            return GifBlock::Unknown;
        }
    default:
        return GifBlock::Unknown;
    }
}

int64_t MeasureSubBlocks(const GifParseState& s, uint64_t k)
{
    // Stops at the data's end: a chain that runs off it measures to one byte
    // past the end, so that no skip accepts it.
    uint64_t start = k;
    while (k < s.size && s.data[k] != 0)
        k += uint64_t(s.data[k]) + 1;
    return static_cast<int64_t>(k - start + 1);
}

int64_t MeasureBlock(const GifParseState& s)
{
    uint64_t n = s.pos;
    switch (ClassifyBlock(s)) {
    case GifBlock::Application:
        return 14 + MeasureSubBlocks(s, n + 14);
    case GifBlock::Comment:
        return 2 + MeasureSubBlocks(s, n + 2);
    case GifBlock::GraphicControl:
        return 8;
    case GifBlock::PlainText:
        return 15 + MeasureSubBlocks(s, n + 15);
    case GifBlock::Image: {
        // A packed byte beyond the end reads as 0: the fixed part alone
        // already runs past the end then.
        uint64_t c = ColorTableSize(ByteAt(s, n + 9));
        return static_cast<int64_t>(11 + c + MeasureSubBlocks(s, n + 11 + c));
    }
    case GifBlock::Trailer:
        return 1;
    case GifBlock::Unknown:
        break;
    }
    return -1;
}

bool AdvancePastBlock(GifParseState& s)
{
    if (!s.data)
        return false;
    int64_t length = MeasureBlock(s);
    if (length <= 0 || uint64_t(s.pos) + uint64_t(length) > s.size)
        return false;
    s.pos += static_cast<uint32_t>(length);
    return true;
}

bool SkipFrameBlocks(GifParseState& s)
{
    if (!s.data || !SkipWhile(s, false))
        return false;
    GifBlock kind = ClassifyBlock(s);
    if (IsGraphic(kind))
        return AdvancePastBlock(s);
    if (kind == GifBlock::GraphicControl)
        return SkipControlledGraphic(s);
    return false; // unrecognised or trailer
}

uint32_t CountGraphicBlocks(GifParseState s)
{
    uint32_t count = 0;
    while (SkipFrameBlocks(s))
        ++count;
    return count;
}

bool ExtractFrame(GifParseState& s, GifFrame* frame)
{
    if (!s.data || !SkipWhile(s, false))
        return false;
    const uint32_t start = s.pos;
    const GifBlock first = ClassifyBlock(s);
    GifFrame out;
    if (first == GifBlock::GraphicControl) {
        if (!AdvancePastBlock(s) || !SkipWhile(s, true))
            return false;
        out.hasControl = true;
        out.disposal = (ByteAt(s, uint64_t(start) + 3) >> 2) & 7;
        out.delay = Le16At(s, uint64_t(start) + 4);
    } else if (!IsGraphic(first)) {
        return false;
    }
    // A frame without a control extension keeps delay 0, which the animation
    // shows for its shortest time, as viewers do; it is not held forever.
    const uint32_t graphic = s.pos;
    const GifBlock kind = ClassifyBlock(s);
    if (!IsGraphic(kind) || !AdvancePastBlock(s))
        return false;
    if (kind == GifBlock::Image) {
        out.left = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 1));
        out.top = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 3));
        out.width = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 5));
        out.height = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 7));
    } else {
        // Plain text has no image descriptor: its text grid stands in.
        out.left = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 3));
        out.top = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 5));
        out.width = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 7));
        out.height = static_cast<int32_t>(Le16At(s, uint64_t(graphic) + 9));
    }
    const uint32_t prefix = kHeaderSize + s.globalColorTableSize;
    if (prefix > start)
        return false; // the walk started inside the header: nothing to copy from
    const uint32_t frameBytes = s.pos - start;
    out.gif.reserve(size_t(prefix) + frameBytes + 1);
    out.gif.assign(s.data, s.data + prefix);
    out.gif.insert(out.gif.end(), s.data + start, s.data + s.pos);
    out.gif.push_back(0x3B);
    *frame = std::move(out);
    return true;
}
