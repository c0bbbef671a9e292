#include "md5.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// Per-round shift amounts and the sine table of RFC 1321, section 3.4.
constexpr int kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

} // namespace

void Md5Init(Md5Context& ctx)
{
    ctx.state[0] = 0x67452301;
    ctx.state[1] = 0xefcdab89;
    ctx.state[2] = 0x98badcfe;
    ctx.state[3] = 0x10325476;
    ctx.bitCount = 0;
    std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void Md5Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 |
               uint32_t(block[i * 4 + 2]) << 16 | uint32_t(block[i * 4 + 3]) << 24;

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + x[g], kShift[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5Update(Md5Context& ctx, const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    size_t used = static_cast<size_t>((ctx.bitCount / 8) % 64);
    ctx.bitCount += static_cast<uint64_t>(size) * 8;
    size_t i = 0;
    if (used != 0) {
        const size_t take = size < 64 - used ? size : 64 - used;
        std::memcpy(ctx.buffer + used, data, take);
        i = take;
        if (used + take < 64)
            return;
        Md5Transform(ctx.state, ctx.buffer);
    }
    for (; i + 64 <= size; i += 64)
        Md5Transform(ctx.state, data + i);
    if (i < size)
        std::memcpy(ctx.buffer, data + i, size - i);
}

void Md5Final(Md5Context& ctx, uint8_t digest[16])
{
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<uint8_t>(ctx.bitCount >> (8 * i));
    static const uint8_t kPadding[64] = {0x80};
    const size_t used = static_cast<size_t>((ctx.bitCount / 8) % 64);
    const size_t padLen = used < 56 ? 56 - used : 120 - used;
    Md5Update(ctx, kPadding, padLen);
    Md5Update(ctx, length, 8);
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<uint8_t>(ctx.state[i / 4] >> (8 * (i % 4)));
    std::memset(&ctx, 0, sizeof ctx);
}

std::wstring Md5HexOfBytes(const uint8_t* data, size_t size)
{
    Md5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, data, size);
    uint8_t digest[16];
    Md5Final(ctx, digest);
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring out;
    for (uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}
