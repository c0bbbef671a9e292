#include "update_request.h"

std::wstring UpdateUrl(const std::wstring& host)
{
    return L"http://" + host + L"/update/tgupdate/tollgrove.exe";
}

std::wstring UpdateRequestHeader(const std::wstring& host)
{
    return host.empty() ? std::wstring() : L"Host: " + host + L"\r\n";
}

std::wstring WithTrailingBackslash(const std::wstring& folder)
{
    if (!folder.empty() && folder.back() == L'\\')
        return folder;
    return folder + L'\\';
}

std::wstring ReplacerArguments(const std::wstring& folder, const std::wstring& exeName)
{
    const std::wstring path = WithTrailingBackslash(folder) + exeName;
    if (path.find_first_of(L" \t") == std::wstring::npos)
        return L" " + path;
    return L" \"" + path + L"\"";
}

bool LooksLikeProgramImage(const unsigned char* bytes, std::size_t size)
{
    return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}
