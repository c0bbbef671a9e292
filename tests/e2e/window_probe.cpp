// tg-probe: reads and drives the running program's main window from another
// process, for the whole-program tests.
//
//   tg-probe text ID            prints the text of dialog item ID
//   tg-probe wait ID TEXT SEC   waits until item ID's text contains TEXT
//   tg-probe click ID           clicks button ID (posted, returns at once)
//   tg-probe enabled ID         prints 1 or 0
//   tg-probe rows               prints the peer list's row count
//   tg-probe exists             exit code 0 while the window exists
//
// Exit codes: 0 done, 1 not found or timed out, 2 usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HWND FindMainWindow()
{
    return FindWindowW(L"#32770", L"Tollgrove 3.0");
}

std::wstring ItemText(HWND dlg, int id)
{
    HWND item = GetDlgItem(dlg, id);
    if (!item)
        return {};
    wchar_t buf[1024] = {};
    SendMessageTimeoutW(item, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buf;
}

void PrintUtf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
}

int ArgInt(const wchar_t* s)
{
    return static_cast<int>(std::wcstol(s, nullptr, 10));
}

} // namespace

// Wide arguments: the texts to wait for are Vietnamese.
int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring cmd = argv[1];
    HWND dlg = FindMainWindow();
    if (cmd == L"exists")
        return dlg ? 0 : 1;
    if (!dlg)
        return 1;
    if (cmd == L"text" && argc == 3) {
        PrintUtf8(ItemText(dlg, ArgInt(argv[2])));
        return 0;
    }
    if (cmd == L"wait" && argc == 5) {
        const std::wstring want = argv[3];
        const DWORD until = GetTickCount() + static_cast<DWORD>(ArgInt(argv[4])) * 1000;
        for (;;) {
            dlg = FindMainWindow();
            const std::wstring text = dlg ? ItemText(dlg, ArgInt(argv[2])) : std::wstring();
            if (dlg && text.find(want) != std::wstring::npos) {
                PrintUtf8(text);
                return 0;
            }
            if (static_cast<int>(until - GetTickCount()) <= 0) {
                PrintUtf8(text);
                return 1;
            }
            Sleep(200);
        }
    }
    if (cmd == L"click" && argc == 3) {
        HWND item = GetDlgItem(dlg, ArgInt(argv[2]));
        if (!item)
            return 1;
        PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(ArgInt(argv[2]), BN_CLICKED), reinterpret_cast<LPARAM>(item));
        return 0;
    }
    if (cmd == L"enabled" && argc == 3) {
        std::printf("%d\n", IsWindowEnabled(GetDlgItem(dlg, ArgInt(argv[2]))) ? 1 : 0);
        return 0;
    }
    if (cmd == L"rows") {
        DWORD_PTR n = 0;
        SendMessageTimeoutW(GetDlgItem(dlg, 1014), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &n);
        std::printf("%u\n", static_cast<unsigned>(n));
        return 0;
    }
    return 2;
}
