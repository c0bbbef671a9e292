// The image header check of a downloaded program copy, as tables over a
// small built header.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "program_image.h"

namespace {

const std::size_t kNewHeader = 0x80;
// The last byte read: the subsystem, 68 bytes into the optional header.
const std::size_t kNeeded = kNewHeader + 24 + 68 + 2;

void Put16(std::vector<unsigned char>& b, std::size_t at, uint32_t v)
{
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void Put32(std::vector<unsigned char>& b, std::size_t at, uint32_t v)
{
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

// The head of an image file as the linker writes it: DOS header, "PE\0\0",
// the file header and a full optional header.
std::vector<unsigned char> Head(uint16_t machine, uint16_t magic, uint16_t subsystem)
{
    std::vector<unsigned char> b(kNewHeader + 24 + (magic == 0x20B ? 0xF0 : 0xE0), 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kNewHeader);
    b[kNewHeader] = 'P';
    b[kNewHeader + 1] = 'E';
    Put16(b, kNewHeader + 4, machine);
    Put16(b, kNewHeader + 4 + 16, static_cast<uint32_t>(b.size() - kNewHeader - 24)); // SizeOfOptionalHeader
    Put16(b, kNewHeader + 4 + 18, 0x0102); // executable, 32-bit machine
    Put16(b, kNewHeader + 24, magic);
    Put16(b, kNewHeader + 24 + 68, subsystem);
    return b;
}

} // namespace

TEST(ProgramImageKind, ReadsMachineMagicAndSubsystem)
{
    const struct {
        const char* name;
        std::vector<unsigned char> head;
        ProgramImageKind kind;
    } cases[] = {
        {"PE32 i386 GUI", Head(0x14C, 0x10B, 2), {0x14C, 0x10B, 2}},
        {"PE32 i386 console", Head(0x14C, 0x10B, 3), {0x14C, 0x10B, 3}},
        {"PE32+ AMD64 GUI", Head(0x8664, 0x20B, 2), {0x8664, 0x20B, 2}},
        {"PE32 ARM GUI", Head(0x1C4, 0x10B, 2), {0x1C4, 0x10B, 2}},
    };
    for (const auto& c : cases) {
        ProgramImageKind kind;
        EXPECT_TRUE(ReadProgramImageKind(c.head.data(), c.head.size(), kind)) << c.name;
        EXPECT_TRUE(kind == c.kind) << c.name;
    }
    // The shipped program's kind is one of them, and no other equals it.
    const ProgramImageKind shipped{0x14C, 0x10B, 2};
    for (std::size_t i = 1; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_FALSE(cases[i].kind == shipped) << cases[i].name;
}

TEST(ProgramImageKind, HeadCutAtEveryLengthBeforeTheSubsystemIsRefused)
{
    const std::vector<unsigned char> head = Head(0x14C, 0x10B, 2);
    for (std::size_t size = 0; size <= head.size(); ++size) {
        // A copy of exactly `size` bytes, so that a read past it is caught
        // by the sanitizers.
        std::vector<unsigned char> cut(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(size));
        ProgramImageKind kind;
        EXPECT_EQ(ReadProgramImageKind(cut.data(), cut.size(), kind), size >= kNeeded) << size;
    }
}

TEST(ProgramImageKind, MalformedHeadersAreRefused)
{
    const struct {
        const char* name;
        std::size_t at;
        uint32_t value;
        bool wide;
    } cases[] = {
        {"no MZ", 0, 'M' | ('Y' << 8), false},
        {"e_lfanew past the bytes read", 0x3C, 0x1000, true},
        {"e_lfanew ending just past them", 0x3C, static_cast<uint32_t>(kNewHeader + 0xE0 + 1 - 94 + 24), true},
        {"e_lfanew negative", 0x3C, 0x80000000u, true},
        {"e_lfanew near 4 GiB", 0x3C, 0xFFFFFFF0u, true},
        {"e_lfanew inside the MZ", 0x3C, 0, true},
        {"no PE signature", kNewHeader, 'P' | ('X' << 8), false},
        {"optional header too short", kNewHeader + 4 + 16, 68, false},
        {"a DLL", kNewHeader + 4 + 18, 0x2102, false},
        {"not executable", kNewHeader + 4 + 18, 0x0100, false},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> head = Head(0x14C, 0x10B, 2);
        if (c.wide)
            Put32(head, c.at, c.value);
        else
            Put16(head, c.at, c.value);
        ProgramImageKind kind;
        EXPECT_FALSE(ReadProgramImageKind(head.data(), head.size(), kind)) << c.name;
        EXPECT_TRUE(kind == ProgramImageKind()) << c.name;
    }
}
