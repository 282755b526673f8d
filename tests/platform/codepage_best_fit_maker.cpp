// Writes src/platform/codepage_best_fit.h to standard output: what the system's conversion to
// code page 932 (WideCharToMultiByte, no flags, as the A functions convert) makes of every
// UTF-16 code unit that 932 cannot hold. Built by the Windows build and run under Wine (or on
// Windows) by scripts/codepage-best-fit.
#include <cstdio>

#include "codepage_units.h"

int main() {
    const codepageunits::EveryUnit all = codepageunits::everyUnit();
    std::printf(
        "// Made by scripts/codepage-best-fit from the system's own conversion to code page 932\n"
        "// (WideCharToMultiByte with no flags, as the A functions convert); do not edit.\n"
        "//\n"
        "// The UTF-16 code units that code page 932 cannot hold both ways but that the system still\n"
        "// turns into bytes other than '?', sorted by unit, with those bytes: a value below 0x100 is\n"
        "// one byte, any other a lead byte and a trail byte. Every other unit that 932 cannot hold\n"
        "// becomes '?'. The digest is of the bytes of every code unit, U+0000 to U+FFFF, each on\n"
        "// its own (tests/platform/codepage_units.h says how it is counted).\n"
        "#pragma once\n"
        "\n"
        "#include <cstdint>\n"
        "\n"
        "namespace platform::cp932 {\n"
        "\n"
        "struct BestFit {\n"
        "    char16_t unit;\n"
        "    std::uint16_t bytes;\n"
        "    friend bool operator==(const BestFit&, const BestFit&) = default;\n"
        "};\n"
        "\n"
        "inline constexpr BestFit BestFitTable[] = {\n");
    constexpr std::size_t PerLine = 6;
    for (std::size_t i = 0; i < all.bestFit.size(); ++i) {
        const auto& fit = all.bestFit[i];
        std::printf("%s{0x%04X, 0x%04X},", i % PerLine == 0 ? "    " : " ", unsigned(fit.unit), unsigned(fit.bytes));
        if (i % PerLine == PerLine - 1 || i + 1 == all.bestFit.size()) std::printf("\n");
    }
    std::printf(
        "};\n"
        "\n"
        "inline constexpr std::uint64_t EveryUnitDigest = 0x%016llXu;\n"
        "\n"
        "} // namespace platform::cp932\n",
        static_cast<unsigned long long>(all.digest));
    return 0;
}
