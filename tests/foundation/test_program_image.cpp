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

// Names of the DLLs an image imports, read from its import directory.
std::set<std::string> ImportedDlls(const std::vector<unsigned char>& img, WORD* subsystem, WORD* machine)
{
    std::set<std::string> dlls;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(img.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(img.data() + dos->e_lfanew);
    *subsystem = nt->OptionalHeader.Subsystem;
    *machine = nt->FileHeader.Machine;
    auto sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(img.data() + toOffset(rva)); d->Name; ++d) {
        std::string name(reinterpret_cast<const char*>(img.data() + toOffset(d->Name)));
        for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}

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
        WORD subsystem = 0, machine = 0;
        auto img = ReadFileBytes(path);
        ASSERT_GT(img.size(), 1024u);
        for (const auto& dll : ImportedDlls(img, &subsystem, &machine))
            EXPECT_TRUE(system.count(dll)) << dll << " is not a system DLL";
        EXPECT_EQ(machine, IMAGE_FILE_MACHINE_I386);
        EXPECT_EQ(subsystem, path == kExe ? IMAGE_SUBSYSTEM_WINDOWS_GUI : IMAGE_SUBSYSTEM_WINDOWS_CUI);
    }
}

// The shipped image carries no debug sections, only the link to the file
// beside it that holds them.
TEST(ProgramImage, ShipsWithoutDebugInformation)
{
    auto img = ReadFileBytes(kExe);
    ASSERT_GT(img.size(), 1024u);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(img.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(img.data() + dos->e_lfanew);
    auto sections = IMAGE_FIRST_SECTION(nt);
    // Names longer than eight characters stand in the COFF string table as "/offset".
    const size_t strings = nt->FileHeader.PointerToSymbolTable + nt->FileHeader.NumberOfSymbols * 18u;
    std::string link;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
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
