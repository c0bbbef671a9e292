#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "md5.h"

namespace {
std::wstring Hex(const std::string& s)
{
    return Md5HexOfBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

const std::pair<const char*, const wchar_t*> kRfc1321Suite[] = {
    {"", L"d41d8cd98f00b204e9800998ecf8427e"},
    {"a", L"0cc175b9c0f1b6a831c399e269772661"},
    {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     L"d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     L"57edf4a22be3c955ac49da2e2107b67a"},
};
} // namespace

TEST(Md5, Rfc1321TestSuite)
{
    for (const auto& c : kRfc1321Suite)
        EXPECT_EQ(Hex(c.first), c.second) << c.first;
}

TEST(Md5, UpdateSplitAtEveryPointGivesTheSameDigest)
{
    // Lengths around the 56- and 64-byte padding boundaries as well.
    for (size_t len : {55u, 56u, 63u, 64u, 65u, 80u, 130u}) {
        std::string text;
        for (size_t i = 0; i < len; ++i)
            text += static_cast<char>('0' + i % 10);
        const std::wstring whole = Hex(text);
        for (size_t split = 0; split <= len; ++split) {
            Md5Context ctx;
            Md5Init(ctx);
            Md5Update(ctx, reinterpret_cast<const uint8_t*>(text.data()), split);
            Md5Update(ctx, reinterpret_cast<const uint8_t*>(text.data()) + split, len - split);
            uint8_t digest[16];
            Md5Final(ctx, digest);
            uint8_t expected[16];
            Md5Init(ctx);
            Md5Update(ctx, reinterpret_cast<const uint8_t*>(text.data()), len);
            Md5Final(ctx, expected);
            ASSERT_EQ(std::memcmp(digest, expected, 16), 0) << len << " split " << split;
        }
        EXPECT_EQ(whole.size(), 32u);
    }
}

TEST(Md5, MachineCodeOfAHardwareAddressText)
{
    // Address bytes 00 1A 2B 3C 4D 5E as the twelve-character text.
    EXPECT_EQ(Hex("001A2B3C4D5E"), L"7598b725a578ee13656d280b6520f326");
}
