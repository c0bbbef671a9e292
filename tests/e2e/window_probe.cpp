// tg-probe: reads and drives the running program's main window from another
// process, for the whole-program tests.
//
//   tg-probe text ID            prints the text of dialog item ID
//   tg-probe wait ID TEXT SEC   waits until item ID's text contains TEXT
//   tg-probe click ID           clicks button ID (posted, returns at once)
//   tg-probe enabled ID         prints 1 or 0
//   tg-probe rows               prints the peer list's row count
//   tg-probe list               prints the peer list, one row a line: the
//                               item data, then the five columns, tab-separated
//   tg-probe panes              prints the status bar's pane texts, one a line
//   tg-probe exists             exit code 0 while the window exists
//   tg-probe link PATH          prints a shell link's target and working
//                               folder, one a line
//   tg-probe in CAPTION CMD...  runs text, wait, click or settext on the
//                               program's dialog with that caption instead
//   tg-probe settext ID TEXT    sets dialog item ID's text
//   tg-probe endsession         ends the Windows session for the window as
//                               Windows does at a log-off: WM_QUERYENDSESSION,
//                               then WM_ENDSESSION (TRUE); prints the first
//                               answer and the milliseconds the second took
//
// The list and the status bar are read through their own messages; their
// item records and texts live in a buffer allocated inside the program's
// process, since a pointer of this process means nothing there.
// Exit codes: 0 done, 1 not found or timed out, 2 usage.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t* g_caption = L"Tollgrove 3.0";

HWND FindMainWindow()
{
    return FindWindowW(L"#32770", g_caption);
}

// A buffer inside the process that owns a window, released on every path.
class RemoteBuffer
{
public:
    RemoteBuffer(HWND window, SIZE_T size) : m_size(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process)
            m_at = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer()
    {
        if (m_at)
            VirtualFreeEx(m_process, m_at, 0, MEM_RELEASE);
        if (m_process)
            CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    bool Ok() const { return m_at != nullptr; }
    char* At() const { return static_cast<char*>(m_at); }
    bool Write(SIZE_T offset, const void* data, SIZE_T n) const
    {
        return offset + n <= m_size && WriteProcessMemory(m_process, At() + offset, data, n, nullptr);
    }
    bool Read(SIZE_T offset, void* data, SIZE_T n) const
    {
        return offset + n <= m_size && ReadProcessMemory(m_process, At() + offset, data, n, nullptr);
    }

private:
    HANDLE m_process = nullptr;
    void* m_at = nullptr;
    SIZE_T m_size;
};

LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, 5000, &r))
        return -1;
    return static_cast<LRESULT>(r);
}

constexpr int kTextChars = 512;

// One cell's text, or the row's item data for column -1.
std::wstring ListCell(HWND list, RemoteBuffer& buf, int row, int col)
{
    LVITEMW item = {};
    item.iItem = row;
    item.iSubItem = col < 0 ? 0 : col;
    item.pszText = reinterpret_cast<LPWSTR>(buf.At() + sizeof(LVITEMW));
    item.cchTextMax = kTextChars;
    item.mask = col < 0 ? LVIF_PARAM : LVIF_TEXT;
    wchar_t text[kTextChars + 1] = {};
    if (!buf.Write(0, &item, sizeof(item)) || !buf.Write(sizeof(LVITEMW), text, sizeof(wchar_t)))
        return {};
    if (col < 0) {
        Send(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buf.At()));
        buf.Read(0, &item, sizeof(item));
        return std::to_wstring(static_cast<long long>(item.lParam));
    }
    Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buf.At()));
    buf.Read(sizeof(LVITEMW), text, kTextChars * sizeof(wchar_t));
    text[kTextChars] = 0;
    return text;
}

int PrintLink(const wchar_t* path);

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
    if (std::wstring(argv[1]) == L"in" && argc >= 4) {
        g_caption = argv[2];
        argv += 2;
        argc -= 2;
    }
    const std::wstring cmd = argv[1];
    if (cmd == L"link" && argc == 3)
        return PrintLink(argv[2]);
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
    if (cmd == L"settext" && argc == 4) {
        HWND item = GetDlgItem(dlg, ArgInt(argv[2]));
        if (!item)
            return 1;
        // The system carries WM_SETTEXT's text across processes itself.
        return Send(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3])) == TRUE ? 0 : 1;
    }
    if (cmd == L"list") {
        HWND list = GetDlgItem(dlg, 1014);
        RemoteBuffer buf(list, sizeof(LVITEMW) + (kTextChars + 1) * sizeof(wchar_t));
        if (!buf.Ok())
            return 1;
        const int rows = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
        for (int r = 0; r < rows; ++r) {
            std::wstring line = ListCell(list, buf, r, -1);
            for (int c = 0; c < 5; ++c)
                line += L"\t" + ListCell(list, buf, r, c);
            PrintUtf8(line);
        }
        return 0;
    }
    if (cmd == L"panes") {
        HWND bar = GetDlgItem(dlg, 0xE801);
        RemoteBuffer buf(bar, (kTextChars + 1) * sizeof(wchar_t));
        if (!bar || !buf.Ok())
            return 1;
        const int parts = static_cast<int>(Send(bar, SB_GETPARTS, 0, 0));
        for (int i = 0; i < parts; ++i) {
            wchar_t text[kTextChars + 1] = {};
            buf.Write(0, text, sizeof(wchar_t));
            const LRESULT len = Send(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0);
            if (LOWORD(len) < kTextChars)
                Send(bar, SB_GETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.At()));
            buf.Read(0, text, kTextChars * sizeof(wchar_t));
            PrintUtf8(text);
        }
        return 0;
    }
    if (cmd == L"enabled" && argc == 3) {
        std::printf("%d\n", IsWindowEnabled(GetDlgItem(dlg, ArgInt(argv[2]))) ? 1 : 0);
        return 0;
    }
    if (cmd == L"endsession") {
        DWORD_PTR answer = 0, ignored = 0;
        if (!SendMessageTimeoutW(dlg, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer))
            return 1;
        const DWORD start = GetTickCount();
        if (!SendMessageTimeoutW(dlg, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &ignored))
            return 1;
        std::printf("%d %lu\n", static_cast<int>(answer), static_cast<unsigned long>(GetTickCount() - start));
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

namespace {

int PrintLink(const wchar_t* path)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int rc = 1;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
            reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(path, STGM_READ))) {
                wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
                link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
                link->GetWorkingDirectory(folder, MAX_PATH);
                PrintUtf8(target);
                PrintUtf8(folder);
                rc = 0;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return rc;
}

} // namespace
