// Text between the runtime's UTF-16 and Qt's strings. Private to the Qt realisation.
#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace runtime::qt {

inline QString toQ(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}

inline std::u16string fromQ(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

} // namespace runtime::qt
