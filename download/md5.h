// MD5 as RFC 1321 gives it. Portable: no windows.h; any thread, no state
// beyond the caller's context.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct Md5Context
{
    uint32_t state[4];
    uint64_t bitCount;     // message length in bits, modulo 2^64
    uint8_t buffer[64];    // the block being filled
};

void Md5Init(Md5Context& ctx);
// One 64-byte block into the state.
void Md5Transform(uint32_t state[4], const uint8_t block[64]);
void Md5Update(Md5Context& ctx, const uint8_t* data, size_t size);
// Pads, appends the length and writes the 16-byte digest.
void Md5Final(Md5Context& ctx, uint8_t digest[16]);

// 32 lower-case hexadecimal digits of the bytes' MD5.
std::wstring Md5HexOfBytes(const uint8_t* data, size_t size);
