// Sets, deletes, queries and commits on two keys of a sound hive, against a model of what the
// keys hold.
#include <optional>
#include <stdexcept>

#include "hive_check.h"
#include "hive_fixture.h"
#include "platform/hive/hive.h"
#include "targets.h"
#include "workspace.h"

namespace fuzz {
namespace {

using namespace platform;
using testsupport::HiveValue;

// The input, a piece at a time; zeros once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A number from `low` to `high`, taken from as few bytes as the range needs.
    std::uint32_t in(std::uint32_t low, std::uint32_t high) {
        const std::uint32_t span = high - low;
        std::uint32_t v = 0;
        for (std::uint32_t rest = span; rest; rest >>= 8) v = v << 8 | byte();
        return low + (span == 0xFFFFFFFF ? v : v % (span + 1));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A value name as the program hands it over (code page 932) and as the registry knows it.
struct Name {
    std::string cp932;
    std::u16string text;
};

// Names as the registry compares them, for the characters these names use: ASCII and full-width
// Latin letters without regard to case.
std::u16string folded(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
        if (c >= 0xFF41 && c <= 0xFF5A) c = static_cast<char16_t>(c - 0x20);
    }
    return text;
}

std::string utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Name ascii(std::string text) { return {text, std::u16string(text.begin(), text.end())}; }

// Every letter whose bit in `mask` is set in the other case.
Name mangled(std::string text, std::uint8_t mask) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!((mask >> (i % 8)) & 1)) continue;
        if (c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - 0x20);
        else if (c >= 'A' && c <= 'Z') text[i] = static_cast<char>(c + 0x20);
    }
    return ascii(text);
}

Name pickName(Input& in) {
    static const char* const Known[] = {"AutoAdminLogon", "DefaultUserName", "DefaultPassword", "LegalNoticeText",
                                        "Big", "A", ""};
    const std::uint8_t kind = in.byte() % 12;
    if (kind < 7) return mangled(Known[kind], in.byte());
    if (kind == 7) return {"\xB1\xB2", u"\uFF71\uFF72"};     // half-width katakana
    if (kind == 8) return {"\x93\xFA\x96\x7B", u"\u65E5\u672C"}; // kanji
    if (kind == 9) {
        // Full-width V, A, L, each in either case.
        const std::uint8_t mask = in.byte();
        Name name;
        const char letters[] = {'V' - 'A', 0, 'L' - 'A'};
        for (int i = 0; i < 3; ++i) {
            const bool lower = (mask >> i) & 1;
            name.cp932 += '\x82';
            name.cp932 += static_cast<char>((lower ? 0x81 : 0x60) + letters[i]);
            name.text += static_cast<char16_t>((lower ? 0xFF41 : 0xFF21) + letters[i]);
        }
        return name;
    }
    if (kind == 10 || in.byte() >= 64) {
        std::string text(in.in(1, 24), ' ');
        for (char& c : text) c = static_cast<char>(in.in(0x20, 0x7E));
        return ascii(text);
    }
    // Long names (now and then), up to one character more than a value name may have.
    static const std::size_t Lengths[] = {255, 256, 4096, 16383, 16384};
    return mangled(std::string(Lengths[in.byte() % 5], 'n'), in.byte());
}

constexpr std::size_t LongestName = 16383;

bool isText(std::uint32_t type) { return type == RegSz || type == RegExpandSz || type == RegMultiSz; }

// A value as the model holds it: what a set handed over (and a query returns), and what the
// hive stores.
struct Value {
    Name name;
    std::uint32_t type = RegSz;
    std::string given;
    std::string stored;
};

// The stored form of data handed over: text (ASCII here) as UTF-16LE, anything else as it is.
std::string storedOf(std::uint32_t type, const std::string& given) {
    if (!isText(type)) return given;
    std::string out;
    for (char c : given) {
        out += c;
        out += '\0';
    }
    return out;
}

Value pickValue(Input& in, Name name) {
    static const std::uint32_t Types[] = {RegSz, RegExpandSz, RegMultiSz, RegBinary, RegDword, RegNone, 0x00010000};
    Value v;
    v.name = std::move(name);
    v.type = Types[in.byte() % 7];
    // Every way data is stored: none, in the value cell, in a cell, around one big-data segment
    // and two, in several segments, now and then in many.
    std::size_t size = 0;
    switch (in.byte() % 16) {
    case 0: case 1: size = 0; break;
    case 2: case 3: case 4: size = in.in(1, 4); break;
    case 5: case 6: case 7: case 8: size = in.in(5, 64); break;
    case 9: case 10: case 11: size = in.in(65, 4096); break;
    case 12: size = in.in(16336, 16352); break;
    case 13: size = in.in(32680, 32696); break;
    case 14: size = in.in(16353, 50000); break;
    case 15: size = in.byte() < 16 ? in.in(50001, 300000) : in.in(4097, 16335); break;
    }
    // Text is stored as UTF-16: half as many characters make the same stored size.
    if (isText(v.type)) size = (size + 1) / 2;
    const std::uint8_t seed = in.byte();
    v.given.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        v.given[i] = isText(v.type) ? static_cast<char>(0x20 + (i * 31 + seed * 7 + i / 97) % 95)
                                    : static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    if (isText(v.type) && size > 0 && (seed & 1)) v.given.back() = '\0';
    v.stored = storedOf(v.type, v.given);
    // Now and then data that begins as a cell of the hive's own does: with each signature, at
    // the start of every big-data segment too. Text can only begin so with U+6B73, "sk".
    static constexpr const char* Signatures[] = {"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
    if ((seed >> 1) % 4 != 3 || size < 4) return v;
    if (isText(v.type)) {
        v.given.replace(0, 2, "\x8D\xCE");
        v.stored.replace(0, 4, "\x73\x6B");
    } else {
        for (std::size_t at = 0; at + 2 <= size; at += hive::BigDataSegment)
            v.given.replace(at, 2, Signatures[seed >> 3 & 7], 2);
        v.stored = v.given;
    }
    return v;
}

// --- the hives it starts from ----------------------------------------------------------------

// The two keys that changes go to, and one that none does.
struct Place {
    const char* inHive;
    const char* subKey;
};
constexpr Place Places[] = {
    {testsupport::WinlogonInHive, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"},
    {"Microsoft\\Windows NT\\CurrentVersion\\Fonts", "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
};
constexpr const char* Untouched = "Classes";

using Model = std::vector<std::vector<Value>>; // the values of each place, in their order

struct Start {
    std::string hive;
    Model model;
};

Value modelled(const HiveValue& v) {
    Value out{ascii(v.name), v.type, {}, v.bytes};
    if (!isText(v.type)) out.given = v.bytes;
    else
        for (std::size_t i = 0; i + 1 < v.bytes.size(); i += 2) out.given += v.bytes[i];
    return out;
}

std::string pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return s;
}

void setMinor(const std::string& file, std::uint32_t minor) {
    std::string h = testsupport::fileBytes(file);
    for (int i = 0; i < 4; ++i) h[24 + i] = static_cast<char>(minor >> (8 * i));
    sealBaseBlock(h);
    testsupport::writeFile(file, h);
}

// Hives of format 1.3 and 1.5 made by libhivex, and one with a value in big-data segments that
// the engine wrote; each meets the check without a finding.
const std::vector<Start>& starts() {
    static const std::vector<Start> all = [] {
        const std::vector<HiveValue> winlogon = {
            testsupport::textValue("AutoAdminLogon", u"0"),       testsupport::textValue("DefaultUserName", u"Administrator"),
            testsupport::textValue("DontDisplayLastUserName", u"0"), testsupport::textValue("ShutdownWithoutLogon", u"1"),
            testsupport::textValue("LegalNoticeCaption", u""),    testsupport::textValue("LegalNoticeText", u"")};
        const std::vector<HiveValue> fonts = {testsupport::textValue("Arial (TrueType)", u"arial.ttf"),
                                              {"Cache", RegBinary, pattern(100, 1)}};
        const std::vector<testsupport::HiveKey> keys = {{Places[0].inHive, winlogon},
                                                        {Places[1].inHive, fonts},
                                                        {Untouched, {testsupport::textValue("", u"root default")}}};
        testsupport::TempDir dir;
        const std::string file = dir.file("hive");
        std::vector<Start> out;
        for (std::uint32_t minor : {3u, 5u}) {
            testsupport::makeHive(file, keys);
            setMinor(file, minor);
            Model model(2);
            for (const HiveValue& v : winlogon) model[0].push_back(modelled(v));
            for (const HiveValue& v : fonts) model[1].push_back(modelled(v));
            out.push_back({testsupport::fileBytes(file), model});
        }
        // Big data in segments, through the engine itself.
        Start big = out.back();
        Workspace::get().put(big.hive);
        Key key = 0;
        const HiveValue long_ = {"Long", RegBinary, pattern(40000, 2)};
        if (RegOpenKeyExA(LocalMachine, Places[0].subKey, 0, KeyAllAccess, &key) != status::Success ||
            RegSetValueExA(key, long_.name.c_str(), 0, long_.type, reinterpret_cast<const std::uint8_t*>(long_.bytes.data()),
                           static_cast<std::uint32_t>(long_.bytes.size())) != status::Success ||
            RegCloseKey(key) != status::Success)
            throw std::runtime_error("the engine cannot write the hive with big data");
        big.hive = Workspace::get().bytes();
        big.model[0].push_back(modelled(long_));
        out.push_back(big);
        for (const Start& s : out) {
            const auto check = testsupport::checkHive(s.hive);
            if (!check.sound()) throw std::runtime_error("a hive to start from breaks the check:\n" + testsupport::describe(check.findings));
        }
        return out;
    }();
    return all;
}

// --- the run ---------------------------------------------------------------------------------

class Run {
public:
    explicit Run(const Start& start) : model_(start.model) {
        Workspace::get().put(start.hive);
        untouched_ = testsupport::readValues(Workspace::get().hive(), Untouched);
    }
    ~Run() {
        for (Key k : handles_)
            if (k) RegCloseKey(k);
    }

    std::string begin() {
        for (std::size_t i = 0; i < 2; ++i)
            if (std::string wrong = reopen(i); !wrong.empty()) return wrong;
        return {};
    }

    std::string step(Input& in) {
        const std::uint8_t op = in.byte();
        const std::size_t place = op >> 7;
        switch (op % 8) {
        case 0: case 1: case 2: return set(place, pickValue(in, pickName(in)));
        case 3: return remove(place, pickName(in));
        case 4: return query(place, pickName(in));
        case 5: case 6: return commit(place);
        default: return set(place, pickValue(in, pickName(in)));
        }
    }

    // Both handles closed: the last changes committed.
    std::string finish() {
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string before = changed_[i] && dirty_ ? Workspace::get().bytes() : std::string();
            const Status closed = RegCloseKey(handles_[i]);
            handles_[i] = 0;
            if (closed != status::Success) return said("the last close gave", closed);
            if (changed_[i] && dirty_) {
                dirty_ = false;
                if (std::string wrong = verify(before); !wrong.empty()) return wrong;
            }
        }
        return {};
    }

private:
    std::optional<std::size_t> find(std::size_t place, const Name& name) const {
        const auto& values = model_[place];
        for (std::size_t i = 0; i < values.size(); ++i)
            if (folded(values[i].name.text) == folded(name.text)) return i;
        return std::nullopt;
    }

    std::string reopen(std::size_t place) {
        handles_[place] = 0;
        changed_[place] = false;
        const Status opened = RegOpenKeyExA(LocalMachine, Places[place].subKey, 0, KeyAllAccess, &handles_[place]);
        return opened == status::Success ? std::string() : said("the key did not open again:", opened);
    }

    std::string set(std::size_t place, Value v) {
        const Status code = RegSetValueExA(handles_[place], v.name.cp932.c_str(), 0, v.type,
                                           reinterpret_cast<const std::uint8_t*>(v.given.data()),
                                           static_cast<std::uint32_t>(v.given.size()));
        if (v.name.text.size() > LongestName)
            return code == status::InvalidParameter ? std::string() : said("a name too long was not refused:", code);
        if (code != status::Success) return said("a set gave", code);
        if (const auto at = find(place, v.name)) {
            v.name = model_[place][*at].name; // the value keeps the name it has
            model_[place][*at] = std::move(v);
        } else {
            model_[place].push_back(std::move(v));
        }
        changed_[place] = dirty_ = true;
        return {};
    }

    std::string remove(std::size_t place, const Name& name) {
        const Status code = RegDeleteValueA(handles_[place], name.cp932.c_str());
        const auto at = find(place, name);
        if (code != (at ? status::Success : status::FileNotFound)) return said("a delete gave", code);
        if (at) {
            model_[place].erase(model_[place].begin() + static_cast<std::ptrdiff_t>(*at));
            changed_[place] = dirty_ = true;
        }
        return {};
    }

    std::string query(std::size_t place, const Name& name) const {
        const Read r = queryWhole(handles_[place], name.cp932.c_str());
        const auto at = find(place, name);
        const Read expected = at ? Read{status::Success, model_[place][*at].type, model_[place][*at].given}
                                 : Read{status::FileNotFound, 0, {}};
        if (r.code != expected.code) return said("a query gave", r.code);
        if (r != expected) return "a value reads otherwise than it was set: " + utf8(name.text).substr(0, 64);
        return {};
    }

    std::string commit(std::size_t place) {
        const bool commits = changed_[place] && dirty_;
        const std::string before = commits ? Workspace::get().bytes() : std::string();
        const Status closed = RegCloseKey(handles_[place]);
        if (closed != status::Success) return said("a close gave", closed);
        if (std::string wrong = reopen(place); !wrong.empty()) return wrong;
        if (!commits) return {};
        dirty_ = false;
        return verify(before);
    }

    // The file as the last commit left it, made of `before`: sound (no cell that nothing
    // refers to), nothing of what it gave up left in free space, and holding the model, to
    // the engine and to libhivex.
    std::string verify(const std::string& before) const {
        const std::string file = Workspace::get().hive();
        const auto check = testsupport::checkHiveFile(file);
        if (!check.sound()) return "a commit wrote a file that breaks the check:\n" + testsupport::describe(check.findings);
        // Every key that the commit did not stamp reads as before, all its values with it.
        if (const auto faults = testsupport::commitFaults(testsupport::checkHive(before), check); !faults.empty())
            return "a commit changed what it did not touch:\n" + testsupport::describe(faults);
        if (const auto left = testsupport::leftovers(before, Workspace::get().bytes()); !left.empty())
            return "a commit left behind what it gave up:\n" + testsupport::describe(left);
        for (std::size_t place = 0; place < 2; ++place) {
            Key key = 0;
            if (RegOpenKeyExA(LocalMachine, Places[place].subKey, 0, KeyRead, &key) != status::Success)
                return "a committed key does not open";
            std::string wrong;
            for (const Value& v : model_[place]) {
                if (queryWhole(key, v.name.cp932.c_str()) != Read{status::Success, v.type, v.given}) {
                    wrong = "a committed value reads otherwise: " + utf8(v.name.text).substr(0, 64);
                    break;
                }
            }
            RegCloseKey(key);
            if (!wrong.empty()) return wrong;
            // libhivex sees the same values, in the same order, where it reads the file.
            if (const auto seen = testsupport::readValues(file, Places[place].inHive)) {
                std::vector<HiveValue> expected;
                for (const Value& v : model_[place]) expected.push_back({utf8(v.name.text), v.type, v.stored});
                if (*seen != expected) return "libhivex reads the committed values otherwise";
            }
        }
        if (testsupport::readValues(file, Untouched) != untouched_) return "a key no change touched changed";
        return {};
    }

    Model model_;
    std::optional<std::vector<HiveValue>> untouched_;
    Key handles_[2] = {0, 0};
    bool changed_[2] = {false, false}; // the handle changed something since it was opened
    bool dirty_ = false;               // the session holds changes not yet committed
};

} // namespace

const std::vector<std::string>& soundHives() {
    static const std::vector<std::string> hives = [] {
        std::vector<std::string> out;
        for (const Start& s : starts()) out.push_back(s.hive);
        return out;
    }();
    return hives;
}

std::string editHive(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const auto& all = starts();
    Run run(all[in.byte() % all.size()]);
    if (std::string wrong = run.begin(); !wrong.empty()) return wrong;
    for (int steps = 0; !in.done() && steps < 64; ++steps)
        if (std::string wrong = run.step(in); !wrong.empty()) return wrong;
    return run.finish();
}

} // namespace fuzz
