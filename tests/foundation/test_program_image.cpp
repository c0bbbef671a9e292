// What the build puts into tollgrove.exe and the replacer, read back through
// the real loader and version API.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../support/host_path.h"
#include "resource.h"

namespace {

std::vector<unsigned char> ReadFileBytes(const std::wstring& path)
{
    std::vector<unsigned char> out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    DWORD size = GetFileSize(h, nullptr), got = 0;
    out.resize(size);
    if (!ReadFile(h, out.data(), size, &got, nullptr)) out.clear();
    out.resize(got);
    CloseHandle(h);
    return out;
}

// The headers of a PE32 or PE32+ image: the file header and the section
// table stand at the same offsets in both, the optional header's data
// directories do not, so they are read by the optional header's Magic.
struct ImageHeaders
{
    const IMAGE_FILE_HEADER* file = nullptr;
    const IMAGE_SECTION_HEADER* sections = nullptr;
    WORD magic = 0;
    WORD subsystem = 0;
    const IMAGE_DATA_DIRECTORY* directories = nullptr;
};

ImageHeaders ReadHeaders(const std::vector<unsigned char>& img)
{
    ImageHeaders h;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(img.data());
    auto nt32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(img.data() + dos->e_lfanew);
    h.file = &nt32->FileHeader;
    h.sections = IMAGE_FIRST_SECTION(nt32);
    h.magic = nt32->OptionalHeader.Magic;
    if (h.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        auto nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt32);
        h.subsystem = nt64->OptionalHeader.Subsystem;
        h.directories = nt64->OptionalHeader.DataDirectory;
    } else {
        h.subsystem = nt32->OptionalHeader.Subsystem;
        h.directories = nt32->OptionalHeader.DataDirectory;
    }
    return h;
}

// Names of the DLLs an image imports, read from its import directory.
std::set<std::string> ImportedDlls(const std::vector<unsigned char>& img, const ImageHeaders& h)
{
    std::set<std::string> dlls;
    auto toOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < h.file->NumberOfSections; ++i) {
            const auto& s = h.sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    DWORD rva = h.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(img.data() + toOffset(rva)); d->Name; ++d) {
        std::string name(reinterpret_cast<const char*>(img.data() + toOffset(d->Name)));
        for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}

// The facts of the build these tests run in: the shipped program is PE32
// for Intel 80386; the build for hosts without 32-bit execution is PE32+.
constexpr bool kBuild32 = sizeof(void*) == 4;
constexpr WORD kMachine = kBuild32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
constexpr WORD kMagic = kBuild32 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC;

const std::wstring kExe = HostPath(TG_EXE_PATH);
const std::wstring kReplacer = HostPath(TG_REPLACER_PATH);

} // namespace

TEST(ProgramImage, VersionBlockReads3002)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(kExe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(kExe.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len));
    EXPECT_EQ(info->dwFileVersionMS, MAKELONG(0, 3));
    EXPECT_EQ(info->dwFileVersionLS, MAKELONG(2, 0));
}

TEST(ProgramImage, CarriesDialogIconStringsAndTheReplacer)
{
    HMODULE mod = LoadLibraryExW(kExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(mod, nullptr);
    EXPECT_NE(FindResourceW(mod, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), MAKEINTRESOURCEW(5 /*RT_DIALOG*/)), nullptr);
    EXPECT_NE(FindResourceW(mod, MAKEINTRESOURCEW(IDR_MAINFRAME), MAKEINTRESOURCEW(14 /*RT_GROUP_ICON*/)), nullptr);

    wchar_t text[64] = {};
    EXPECT_GT(LoadStringW(mod, IDS_PANE_RATES, text, 64), 0);
    EXPECT_STREQ(text, L"0.00 KB/s - 0.00 KB/s");

    HRSRC data = FindResourceW(mod, MAKEINTRESOURCEW(IDR_REPLACER), L"DATA");
    ASSERT_NE(data, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(mod, data)));
    std::vector<unsigned char> embedded(bytes, bytes + SizeofResource(mod, data));
    EXPECT_EQ(embedded, ReadFileBytes(kReplacer));
    FreeLibrary(mod);
}

TEST(ProgramImage, MainDialogTemplateHasItsCaption)
{
    HMODULE mod = LoadLibraryExW(kExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(mod, nullptr);
    HRSRC res = FindResourceW(mod, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), MAKEINTRESOURCEW(5));
    ASSERT_NE(res, nullptr);
    // DLGTEMPLATEEX: fixed header, then menu, class and caption as strings.
    const auto* p = static_cast<const WORD*>(LockResource(LoadResource(mod, res)));
    ASSERT_EQ(p[1], 0xFFFF); // signature of the extended template
    const WORD* s = p + 13;  // after dlgVer..cy
    auto skip = [](const WORD* q) {
        if (*q == 0xFFFF) return q + 2;
        while (*q) ++q;
        return q + 1;
    };
    s = skip(s); // menu
    s = skip(s); // class
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(s), L"Tollgrove 3.0");
    FreeLibrary(mod);
}

TEST(ProgramImage, ImportsOnlySystemDlls)
{
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
        "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "ws2_32.dll",
        "mswsock.dll", "iphlpapi.dll", "wininet.dll", "crypt32.dll", "bcrypt.dll", "dbghelp.dll", "version.dll",
        "msvcrt.dll", "uuid.dll", "winmm.dll"};
    for (const auto& path : {kExe, kReplacer}) {
        auto img = ReadFileBytes(path);
        ASSERT_GT(img.size(), 1024u);
        const ImageHeaders h = ReadHeaders(img);
        for (const auto& dll : ImportedDlls(img, h))
            EXPECT_TRUE(system.count(dll)) << dll << " is not a system DLL";
        EXPECT_EQ(h.file->Machine, kMachine);
        EXPECT_EQ(h.magic, kMagic);
        EXPECT_EQ(h.subsystem, path == kExe ? IMAGE_SUBSYSTEM_WINDOWS_GUI : IMAGE_SUBSYSTEM_WINDOWS_CUI);
    }
}

// The shipped image carries no debug sections, only the link to the file
// beside it that holds them.
TEST(ProgramImage, ShipsWithoutDebugInformation)
{
    auto img = ReadFileBytes(kExe);
    ASSERT_GT(img.size(), 1024u);
    const ImageHeaders h = ReadHeaders(img);
    const IMAGE_SECTION_HEADER* sections = h.sections;
    // Names longer than eight characters stand in the COFF string table as "/offset".
    const size_t strings = h.file->PointerToSymbolTable + h.file->NumberOfSymbols * 18u;
    std::string link;
    for (WORD i = 0; i < h.file->NumberOfSections; ++i) {
        std::string name(reinterpret_cast<const char*>(sections[i].Name), strnlen(reinterpret_cast<const char*>(sections[i].Name), 8));
        if (!name.empty() && name[0] == '/') {
            const size_t at = strings + std::stoul(name.substr(1));
            ASSERT_LT(at, img.size());
            name = reinterpret_cast<const char*>(img.data() + at);
        }
        EXPECT_NE(name.rfind(".debug", 0), 0u) << name << " is in the shipped image";
        if (name == ".gnu_debuglink" && sections[i].PointerToRawData < img.size())
            link = reinterpret_cast<const char*>(img.data() + sections[i].PointerToRawData);
    }
    EXPECT_EQ(link, "tollgrove.exe.debug");
    EXPECT_NE(GetFileAttributesW((kExe + L".debug").c_str()), INVALID_FILE_ATTRIBUTES);
}
