// Host (Linux) paths as Wine sees them: the host's root is drive Z:.
#pragma once
#include <string>

inline std::wstring HostPath(const std::string& unixPath)
{
    std::wstring w = L"Z:";
    for (unsigned char c : unixPath)
        w += (c == '/') ? L'\\' : static_cast<wchar_t>(c);
    return w;
}
