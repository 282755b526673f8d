// A strict structural check of a hive file, for the tests: the rules a careful loader applies
// to the base block, the hive bins and their cells, and to everything the root key reaches.
// It shares no code with the engine, so that a mistake of the engine cannot hide itself twice.
//
// Every rule broken gives a finding that names the cell (an offset from the start of the
// bins) where it was seen. A file the engine wrote is judged against the file it came from:
// it may keep what was already wrong there (a commit copies the file and cannot repair it), but
// nothing may be new. Files that Windows wrote break a few rules of their own; see
// windowsBreaks().
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

enum class HiveRule {
    // The base block.
    BaseSignature,   // "regf" and 4096 bytes
    BaseVersion,     // format 1.3 to 1.6, a primary file of direct memory load, clustering 1
    BaseSequence,    // the two sequence numbers equal: the last write completed
    BaseChecksum,    // the XOR of the first 127 double words
    BinsSize,        // a multiple of 4096, the sum of the bins (no bin crosses its end)
    FileSize,        // the file holds the bins and nothing after them
    RootCell,        // the root is a key cell marked as the hive's entry
    // The hive bins.
    BinSignature,    // "hbin"
    BinOffset,       // each bin names its own offset
    BinSize,         // a multiple of 4096
    BeyondTwoGiB,    // every offset below 2 GiB (the top bit means volatile storage)
    // The cells of a bin.
    CellSize,        // a multiple of 8, at least 8 (free cells positive, allocated negative)
    CellCrossesBin,  // the cells tile the bin exactly
    // References from the root.
    BadReference,    // an offset that is not the start of a cell
    FreeReference,   // an offset that leads to a free cell
    WrongKind,       // a cell of another kind than the reference needs (a key where a value belongs)
    CellTooSmall,    // a record longer than its cell: a name, a list, data
    SharedCell,      // a cell that two owners refer to (only security cells are shared)
    LeakedCell,      // an allocated cell that nothing refers to
    // Keys and values.
    KeyParent,       // a key's parent field names the key that lists it
    KeyName,         // not empty (but the root's), whole characters
    SubkeyCount,     // the count of subkeys is what the lists hold; no list without a subkey
    SubkeyOrder,     // subkey lists sorted by name without regard to case, no name twice
    SubkeyHash,      // the name hint of a fast leaf, the hash of a hash leaf
    ValueCount,      // no value list without a value
    ValueName,       // whole characters, no name twice in one key
    MaxFields,       // the longest subkey name, class, value name and data at least the real ones
    DataSize,        // inline data of at most 4 bytes, data in cells that hold it
    BigData,         // from format 1.4, data over 16344 bytes in big-data segments, as many as it needs
    SecurityList,    // the security cells form one list, each linked both ways
    SecurityCount,   // a security cell's reference count is the number of keys that use it
    // A commit against the file it replaced (leftovers(), commitFaults()).
    LeftOver,        // bytes of a cell in use before lie in free space, not wiped
    KeyNotKept,      // a key that the commit did not stamp reads otherwise: gone, new, or other values
};

// The rule's name, as findings print it.
const char* ruleName(HiveRule rule);

// The rules that a hive written by Windows itself may break without being damaged: its file is
// padded beyond the bins, it may wait for its logs (dirty), and it keeps cells that nothing
// refers to any more. A hive written by this project breaks none of them.
bool windowsBreaks(HiveRule rule);

struct HiveFinding {
    HiveRule rule;
    // Where it was seen: the cell that breaks the rule (for a reference, the offset it leads
    // to, whichever cell holds it), a bin, or 0 for the base block.
    std::uint32_t cell = 0;
    std::string detail;
    bool sameAs(const HiveFinding& other) const { return rule == other.rule && cell == other.cell; }
};

// A key as the walk from the root reads it: its timestamp and its values in their order (the
// name without regard to ASCII case, the type, the data's size and a digest of its bytes).
struct KeyContent {
    std::uint64_t written = 0;
    std::vector<std::string> values;
    bool operator==(const KeyContent&) const = default;
};

struct HiveCheck {
    std::vector<HiveFinding> findings;
    // Every key the walk reached, by its path of names (ASCII letters in capitals).
    std::map<std::u16string, KeyContent> tree;
    std::uint64_t cells = 0;     // allocated cells
    std::uint64_t keys = 0;
    std::uint64_t values = 0;

    bool sound() const { return findings.empty(); }
    // Whether the file breaks a rule beyond what Windows itself does and beyond leaked cells:
    // what a reader may stumble on.
    bool damaged() const;
    bool has(HiveRule rule) const;
    // The findings that `source` does not have (the same rule at the same cell).
    std::vector<HiveFinding> beyond(const HiveCheck& source) const;
    // The findings other than those Windows itself gives.
    std::vector<HiveFinding> unlikeWindows() const;
};

// The findings of `written`, a file that a commit made of `source`, that the commit answers
// for: every finding the source did not have. But a commit on a damaged source leaves allocated
// what it cannot be sure nothing uses any more (space lost, nothing else): new leaked cells are
// its own fault only when the source was not damaged. And whatever the source: a commit stamps
// every key whose values it changes, so every key whose timestamp stayed reads as before (the
// same values, the same data), and every key of the source is still there (KeyNotKept).
std::vector<HiveFinding> commitFaults(const HiveCheck& source, const HiveCheck& written);

// The free cells of `written`, a file that a commit made of `source`, that keep bytes (other
// than zeros) which a cell of `source` held in use: what the commit gave up and left behind
// where nothing refers to it. The bins of either file that are not tiled exactly are passed by.
std::vector<HiveFinding> leftovers(std::string_view source, std::string_view written);

// The findings in words, one a line, at most `limit` of them.
std::string describe(const std::vector<HiveFinding>& findings, std::size_t limit = 20);

// Checks a hive image (the whole file).
HiveCheck checkHive(std::string_view file);
// Checks the hive file at `path`; a file that cannot be read is a BaseSignature finding.
HiveCheck checkHiveFile(const std::string& path);

} // namespace testsupport
