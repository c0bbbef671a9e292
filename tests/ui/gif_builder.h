// Builds GIFs block by block for the tests, remembering where each frame's
// bytes and each graphic block end. Image data is real LZW (one code per
// pixel, a clear code often enough that codes stay 9 bits), so the results
// decode in a real picture loader too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class GifBuilder
{
public:
    struct Frame
    {
        size_t start = 0; // first byte of the control extension or of the graphic block
        size_t end = 0;   // one past the graphic block
    };

    // A header with a 256-entry global colour table (a grey ramp) unless
    // globalTable is false.
    GifBuilder(uint16_t width, uint16_t height, bool globalTable = true, const char* version = "GIF89a")
    {
        Raw(std::string(version));
        Le16(width);
        Le16(height);
        bytes.push_back(globalTable ? 0xF7 : 0x00);
        bytes.push_back(0); // background colour index
        bytes.push_back(0); // aspect ratio
        if (globalTable)
            for (int i = 0; i < 256; ++i)
                bytes.insert(bytes.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
        headerSize = bytes.size();
    }

    GifBuilder& Raw(const std::string& s)
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    GifBuilder& Raw(std::initializer_list<uint8_t> b)
    {
        bytes.insert(bytes.end(), b);
        return *this;
    }

    GifBuilder& Application()
    {
        Raw({0x21, 0xFF, 0x0B});
        Raw("NETSCAPE2.0");
        Raw({0x03, 0x01, 0x00, 0x00, 0x00});
        return *this;
    }

    GifBuilder& Comment(const std::string& text)
    {
        Raw({0x21, 0xFE});
        SubBlocks(std::vector<uint8_t>(text.begin(), text.end()));
        return *this;
    }

    GifBuilder& Control(uint16_t delay, uint8_t disposal, int transparent = -1)
    {
        MarkStart();
        uint8_t packed = uint8_t((disposal & 7) << 2) | (transparent >= 0 ? 1 : 0);
        Raw({0x21, 0xF9, 0x04, packed});
        Le16(delay);
        Raw({uint8_t(transparent >= 0 ? transparent : 0), 0x00});
        return *this;
    }

    // An image of one colour index; with localTable, a 2-entry local table.
    GifBuilder& Image(uint16_t left, uint16_t top, uint16_t width, uint16_t height, uint8_t index,
                      bool localTable = false)
    {
        MarkStart();
        bytes.push_back(0x2C);
        Le16(left);
        Le16(top);
        Le16(width);
        Le16(height);
        bytes.push_back(localTable ? 0x80 : 0x00);
        if (localTable)
            Raw({0, 0, 0, 255, 255, 255});
        bytes.push_back(8); // LZW minimum code size
        SubBlocks(Lzw(std::vector<uint8_t>(size_t(width) * height, index)));
        CloseFrame();
        return *this;
    }

    GifBuilder& PlainText(uint16_t left, uint16_t top, uint16_t width, uint16_t height)
    {
        MarkStart();
        Raw({0x21, 0x01, 0x0C});
        Le16(left);
        Le16(top);
        Le16(width);
        Le16(height);
        Raw({8, 8, 1, 0});
        SubBlocks({'h', 'i'});
        CloseFrame();
        return *this;
    }

    GifBuilder& Trailer() { return Raw({0x3B}); }

    std::vector<uint8_t> bytes;
    std::vector<Frame> frames;
    size_t headerSize = 0;

private:
    void Le16(uint16_t v) { bytes.insert(bytes.end(), {uint8_t(v & 0xFF), uint8_t(v >> 8)}); }

    void SubBlocks(const std::vector<uint8_t>& data)
    {
        for (size_t i = 0; i < data.size(); i += 255) {
            size_t n = data.size() - i < 255 ? data.size() - i : 255;
            bytes.push_back(uint8_t(n));
            bytes.insert(bytes.end(), data.begin() + i, data.begin() + i + n);
        }
        bytes.push_back(0);
    }

    void MarkStart()
    {
        if (!open) {
            pending.start = bytes.size();
            open = true;
        }
    }

    void CloseFrame()
    {
        pending.end = bytes.size();
        frames.push_back(pending);
        open = false;
    }

    static std::vector<uint8_t> Lzw(const std::vector<uint8_t>& pixels)
    {
        std::vector<uint8_t> out;
        uint32_t acc = 0;
        int bits = 0;
        auto put = [&](uint32_t code) {
            acc |= code << bits;
            bits += 9;
            while (bits >= 8) {
                out.push_back(uint8_t(acc & 0xFF));
                acc >>= 8;
                bits -= 8;
            }
        };
        const uint32_t clear = 256, end = 257;
        for (size_t i = 0; i < pixels.size(); ++i) {
            if (i % 200 == 0)
                put(clear);
            put(pixels[i]);
        }
        put(end);
        if (bits > 0)
            out.push_back(uint8_t(acc & 0xFF));
        return out;
    }

    Frame pending;
    bool open = false;
};
