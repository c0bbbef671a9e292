#include "text_encoding.h"

#include <cwchar>

namespace tollgrove {

std::size_t Utf16Units(const std::wstring& text)
{
    std::size_t units = text.size();
#if WCHAR_MAX > 0xFFFF
    for (wchar_t c : text)
        if (static_cast<unsigned long>(c) > 0xFFFF)
            ++units; // a pair of surrogates in UTF-16
#endif
    return units;
}

std::string NarrowForEngine(const std::wstring& text, std::size_t maxUnits)
{
    if (Utf16Units(text) > maxUnits)
        return {};
    return ToUtf8(text);
}

std::string NarrowUrlForEngine(const std::wstring& url, std::size_t maxUnits)
{
    if (Utf16Units(url) > maxUnits)
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : ToUtf8(url)) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (u < 0x80) {
            out += ch;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long c = static_cast<unsigned long>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const unsigned long lo = static_cast<unsigned long>(text[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        // A surrogate without its partner (or a wchar_t beyond Unicode) has
        // no UTF-8 form: its bytes would be invalid UTF-8 for whoever reads
        // them, so it becomes the replacement mark.
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    std::wstring out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        unsigned long c = s[i];
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len != 0 && i + len <= n;
        if (ok && len > 1) {
            c &= (0xFF >> (len + 1));
            for (std::size_t k = 1; k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (s[i + k] & 0x3F);
            }
        }
        if (!ok) {
            out += L'\xFFFD'; // a malformed byte stands for itself as a replacement mark
            ++i;
            continue;
        }
        i += len;
        if (c >= 0x10000 && sizeof(wchar_t) == 2) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

} // namespace tollgrove
