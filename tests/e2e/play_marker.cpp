// tg-play-marker: stands in for a game. Writes played.txt into its current
// folder: that folder, then its command line, one a line (UTF-8).
#include <windows.h>

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
    const std::string text = Utf8(folder) + "\n" + Utf8(GetCommandLineW()) + "\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return 0;
}
