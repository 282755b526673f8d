#include "codepage_units.h"

#include <string>

#include "platform/codepage.h"

namespace codepageunits {

EveryUnit everyUnit() {
    namespace cp932 = platform::cp932;
    EveryUnit all;
    std::uint64_t digest = 0xCBF29CE484222325u;
    auto add = [&](unsigned char byte) {
        digest ^= byte;
        digest *= 0x100000001B3u;
    };
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
        const std::u16string unit(1, static_cast<char16_t>(u));
        const std::string bytes = cp932::encode(unit);
        add(static_cast<unsigned char>(bytes.size()));
        for (char b : bytes) add(static_cast<unsigned char>(b));
        if (cp932::mappable(unit) || bytes == "?") continue;
        std::uint16_t packed = 0;
        for (char b : bytes) packed = static_cast<std::uint16_t>(packed << 8 | static_cast<unsigned char>(b));
        all.bestFit.push_back({static_cast<char16_t>(u), packed});
    }
    all.digest = digest;
    return all;
}

} // namespace codepageunits
