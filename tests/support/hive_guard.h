// Every commit of the hive engine in a test program, checked. A test program linked with the
// guard (the vantorio_hive_guard library) calls the registry's open and close through it: the
// linker hands the guard every call of the program's code to those two operations (its --wrap
// option). A close that replaced a hive file (a commit renames a new file over the old one) runs
// the structural check on the new file and fails the running test for every finding the replaced
// file did not already have (commitFaults): a commit cannot repair what it copies, but must add
// no fault of its own.
#pragma once

#include <cstddef>

namespace testsupport {

// How many files the guard has checked after a commit, in this process.
std::size_t guardedCommits();

} // namespace testsupport
