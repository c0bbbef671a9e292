// GIF block parser of the picture control: tells a still GIF from an
// animation and cuts each frame of an animation out as a stand-alone
// one-frame GIF that the picture loader can decode by itself.
//
// Portable (no Win32): every operation works on a plain parse state over
// bytes the caller owns and never reads outside [data, data + size).
// Any thread may call these; none blocks. A parse state belongs to one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes under the parse and the walk's position in them.
struct GifParseState
{
    const uint8_t* data = nullptr;    // null: nothing to parse, every walk fails
    uint32_t size = 0;                // bytes at data
    uint32_t pos = 0;                 // offset of the block under the parse
    uint32_t globalColorTableSize = 0; // bytes of the global colour table, 0 when none
};

// What the six bytes of signature and version and the logical screen
// descriptor say.
struct GifHeader
{
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t globalColorTableSize = 0;
    uint32_t firstBlock = 0; // 13 + globalColorTableSize
};

// The kind of the block at the parse offset; the numbers are the kinds the
// block walk reports.
enum class GifBlock
{
    Unknown = 0,        // anything else, 0x21 with another label, or past the end
    Application = 1,    // 0x21 0xFF
    Comment = 2,        // 0x21 0xFE
    GraphicControl = 3, // 0x21 0xF9
    PlainText = 4,      // 0x21 0x01
    Image = 5,          // 0x2C
    Trailer = 6,        // 0x3B
};

// One frame as ExtractFrame cuts it out.
struct GifFrame
{
    std::vector<uint8_t> gif; // header, colour table, the frame's blocks, trailer
    uint32_t delay = 0;       // hundredths of a second; 0 without a control extension
    uint32_t disposal = 0;    // 0 to 7; 0 without a control extension
    bool hasControl = false;  // the frame had a graphic control extension
    int32_t left = 0;         // from the image descriptor, or the text grid
    int32_t top = 0;          // of a plain-text block
    int32_t width = 0;
    int32_t height = 0;
};

// True when the data starts with "GIF87a" or "GIF89a".
bool IsGifSignature(const uint8_t* data, size_t size);

// Reads the logical screen descriptor of data that IsGifSignature accepted;
// false when the data is too short to hold it.
bool ReadGifHeader(const uint8_t* data, size_t size, GifHeader* header);

// A parse state at the first block after the header and colour table.
GifParseState StartGifParse(const uint8_t* data, uint32_t size, const GifHeader& header);

GifBlock ClassifyBlock(const GifParseState& state);

// Length of the block at the parse offset, -1 for an unrecognised one. The
// length may run past the data's end; AdvancePastBlock refuses it then.
int64_t MeasureBlock(const GifParseState& state);

// Length of the sub-block chain at offset, its terminator included. A chain
// that runs off the data's end measures to one byte past the end.
int64_t MeasureSubBlocks(const GifParseState& state, uint64_t offset);

// Moves past the block at the parse offset. Fails (offset unchanged) for no
// data, an unrecognised block, or one that would end past the data's end.
bool AdvancePastBlock(GifParseState& state);

// Moves past one graphic block (optional control extension, then the image
// or plain-text block it governs) with the application and comment blocks
// around it. Fails at the trailer, an unrecognised block or a block that
// runs past the end; the offset may then stand anywhere inside the walk.
bool SkipFrameBlocks(GifParseState& state);

// Number of SkipFrameBlocks successes from the parse offset on.
uint32_t CountGraphicBlocks(GifParseState state);

// Cuts the next graphic block out as a stand-alone one-frame GIF and moves
// past it. False where SkipFrameBlocks would fail.
bool ExtractFrame(GifParseState& state, GifFrame* frame);
