#include "program_image.h"

namespace {

// Offsets in the image header.
const std::size_t kNewHeaderOffsetAt = 0x3C;  // e_lfanew in the DOS header
const std::size_t kFileHeaderSize = 20;       // after the 4-byte signature
const std::size_t kSubsystemAt = 68;          // in the optional header, PE32 and PE32+ alike
const uint16_t kExecutableImage = 0x0002;     // IMAGE_FILE_EXECUTABLE_IMAGE
const uint16_t kDll = 0x2000;                 // IMAGE_FILE_DLL

uint16_t Read16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Read32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool ReadProgramImageKind(const unsigned char* bytes, std::size_t size, ProgramImageKind& kind)
{
    kind = ProgramImageKind();
    if (size < kNewHeaderOffsetAt + 4 || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    // e_lfanew is read from the file: range-checked against what was read,
    // in 64 bits so that a value near 4 GiB cannot wrap round.
    const uint64_t header = Read32(bytes + kNewHeaderOffsetAt);
    const uint64_t optional = header + 4 + kFileHeaderSize;
    if (header < 4 || optional + kSubsystemAt + 2 > size)
        return false;
    const unsigned char* nt = bytes + header;
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0)
        return false;
    const uint16_t optionalSize = Read16(nt + 4 + 16);
    const uint16_t characteristics = Read16(nt + 4 + 18);
    if (optionalSize < kSubsystemAt + 2 || !(characteristics & kExecutableImage) || (characteristics & kDll))
        return false;
    kind.machine = Read16(nt + 4);
    kind.magic = Read16(bytes + optional);
    kind.subsystem = Read16(bytes + optional + kSubsystemAt);
    return true;
}
