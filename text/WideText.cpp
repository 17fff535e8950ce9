#include "text/WideText.h"

#include <algorithm>
#include <climits>

namespace qel {

namespace {

template <class Char>
int lengthToNul(const std::basic_string<Char>& text)
{
    const auto end = std::find(text.begin(), text.end(), Char{});
    const auto length = static_cast<std::size_t>(end - text.begin());
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

WideText toWide(const KestCString& text)
{
    const int length = lengthToNul<char>(text);
    const int needed = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    WideText wide(static_cast<std::size_t>(needed), WCHAR{});
    const int written = MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    wide.resize(static_cast<std::size_t>(std::max(written, 0)));
    return wide;
}

KestCString toAnsi(const WideText& text)
{
    const int length = lengthToNul(text);
    const int needed =
        length == 0 ? 0 : WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    KestCString ansi;
    ansi.resize(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr, nullptr);
    ansi.resize(static_cast<std::size_t>(std::max(written, 0)));
    return ansi;
}

}  // namespace qel
