// The kind of a Windows program image, read from the head of its file:
// what the self-update compares before it puts a downloaded copy in place.
// Portable: no windows.h; any thread.
#pragma once
#include <cstddef>
#include <cstdint>

struct ProgramImageKind {
    uint16_t machine = 0;   // the file header's Machine (0x14C Intel 80386, 0x8664 AMD64)
    uint16_t magic = 0;     // the optional header's Magic (0x10B PE32, 0x20B PE32+)
    uint16_t subsystem = 0; // the optional header's Subsystem (2 GUI, 3 console)
};

inline bool operator==(const ProgramImageKind& a, const ProgramImageKind& b)
{
    return a.machine == b.machine && a.magic == b.magic && a.subsystem == b.subsystem;
}

// Reads the kind of the program image whose first `size` bytes are `bytes`
// (a file's head, or the headers of a loaded module). False when they are no
// executable PE image (no "MZ", e_lfanew outside the bytes, no "PE\0\0", an
// optional header too short to hold the subsystem, a DLL, a file not marked
// executable), or when they end before the fields. Never reads past `size`.
bool ReadProgramImageKind(const unsigned char* bytes, std::size_t size, ProgramImageKind& kind);
