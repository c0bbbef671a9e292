// tg-play-marker: stands in for a game. Writes played.txt into its current
// folder: that folder, its command line, the number of arguments the
// runtime splits it into (its own path included), the first of them and
// its own module path, one a line (UTF-8).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace

int wmain()
{
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    FILE* f = _wfopen(L"played.txt", L"wb");
    if (!f)
        return 1;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t module[32768] = {};
    GetModuleFileNameW(nullptr, module, 32768);
    const std::string text = Utf8(folder) + "\n" + Utf8(GetCommandLineW()) + "\n" + std::to_string(argc) + "\n" +
        (argv && argc > 0 ? Utf8(argv[0]) : std::string()) + "\n" + Utf8(module) + "\n";
    LocalFree(argv);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return 0;
}
