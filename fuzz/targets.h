// The hive engine's fuzz targets. Each takes one input and runs it through the five registry
// operations on a hive file of its own; it returns what the engine did wrong, or nothing. Crashes,
// reads out of bounds, undefined behaviour and leaks are the sanitizers' to find.
//
// The fuzz build (scripts/fuzz) hands them libFuzzer's inputs; the tests replay the inputs that
// once went wrong (findings_test.cpp), so what a fuzzer found stays found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Any bytes as a hive file: opened for reading, the Winlogon key found both at once and one
// key at a time, its values queried as the program queries them. Whatever the bytes, every
// code is one of the registry's, sizes and buffers agree, and the file is never written.
std::string readHive(const std::uint8_t* data, std::size_t size);

// Any bytes as a hive file, changed and committed: a password set, AutoAdminLogon deleted and
// a long value set. A commit that succeeds leaves a file whose base block and bins are sound,
// in which the changes read back, every other value of the key reads as before, and so does
// every key that the commit did not stamp (the structural check's KeyNotKept); one that fails
// leaves the file as it was.
std::string commitHive(const std::uint8_t* data, std::size_t size);

// The input as a sequence of sets, deletes, queries and commits on two keys of a sound hive:
// values of every size (inline, a cell, big data) and type, data that begins with the signature
// of a cell, names of every length and case. Every commit leaves a file that meets the
// structural check without a single finding, in which every key it did not stamp reads as
// before and nothing it gave up is left in free space, and in which the engine and libhivex
// read every value as it was set.
std::string editHive(const std::uint8_t* data, std::size_t size);

// Any bytes as a hive file and its two transaction logs: a byte of flags (bit 0: the hive's
// checksum made right; 1: the checksums of the logs' copies of the base block; 2: the two sums
// of their entries; 3: the logs named in lower case; 4: no logs at all), the sizes of .LOG1 and
// .LOG2 (four bytes each), then the hive, .LOG1 and .LOG2. Loading writes nothing. A dirty hive
// whose logs cannot be used is refused writing and reads as its file holds it. A replayed one
// is written out whole (a complete write) and reads as the replay did; a commit on it keeps the
// layout of the replayed hive and leaves the logs as they were.
std::string replayHive(const std::uint8_t* data, std::size_t size);

// Inputs of replayHive made from a hive in three states and logs made as Windows makes them
// (both formats, one log or two, a broken base block, none): its first seeds.
const std::vector<std::string>& replaySeeds();

// The base block's checksum made right, so that inputs reach the bins (a file whose checksum is
// wrong goes no further than its first 512 bytes).
void sealBaseBlock(std::string& hive);

// The sound hives that editHive starts from, as files of libhivex and of the engine; also the
// first seeds of the other two targets.
const std::vector<std::string>& soundHives();

} // namespace fuzz
