// Stamp parsing, name folding and the scheme strip over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config_rules.h"
#include "file_stamps.h"
#include "support_formats.h"
#include "vietnamese_fold.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));

    uint64_t t = 0;
    if (ParseFileStamp(text, t)) {
        uint64_t again = 0;
        if (!ParseFileStamp(FormatFileStamp(t), again) || again != t)
            std::abort();
        if (t <= 0x7FFFFFFFFFFFFFFFull && !CompareFileStamps(text, FormatFileStamp(t)))
            std::abort();
    }
    const size_t half = text.size() / 2;
    CompareFileStamps(text.substr(0, half), text.substr(half));

    if (StripVietnameseMarks(text).size() != text.size())
        std::abort();
    const std::wstring stripped = StripHttpScheme(text);
    if (stripped.size() != text.size() && stripped.size() + 7 != text.size())
        std::abort();
    uint32_t length = 0;
    if (ParseContentLength(text, length) && !ParseContentLength(std::to_wstring(length), length))
        std::abort();
    return 0;
}
