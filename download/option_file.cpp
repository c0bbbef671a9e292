#include "option_file.h"

#include <windows.h>
#include <shlwapi.h>

tollgrove::SessionOptions ReadOptionFile()
{
    const wchar_t kFile[] = L"./tgoption.ini";
    if (!PathFileExistsW(kFile))
        return tollgrove::ReadSessionOptions(nullptr);
    return tollgrove::ReadSessionOptions([&](const wchar_t* key) {
        return static_cast<std::int32_t>(GetPrivateProfileIntW(L"Option", key, 0, kFile));
    });
}
