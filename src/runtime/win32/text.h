// Text between the runtime's UTF-16 and the wide strings of Win32, which hold the same
// units. Private to the Win32 realisation.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace runtime::win32 {

inline const wchar_t* wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }
inline std::wstring wstr(std::u16string_view text) { return std::wstring(wide(text), text.size()); }
inline std::u16string u16(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// The text of a window: a control's text, a window's title.
inline std::u16string windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), int(text.size()));
    text.resize(std::size_t(std::max(got, 0)));
    return u16(text);
}

} // namespace runtime::win32
