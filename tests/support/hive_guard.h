// Every commit of the hive engine in a test program, checked. A test program linked with the
// guard (the vantorio_hive_guard library) has it observe the engine's commits from its start
// (hive.h, CommitObserver): the structural check runs on each file just before a commit
// replaces it and on the new file just after, and the running test fails for every finding the
// replaced file did not already have (commitFaults): a commit cannot repair what it copies, but
// must add no fault of its own. For a hive whose logs were replayed, the hive the commit started
// from (the file with the logged pages over it) stands for the file.
#pragma once

#include <cstddef>

#include "platform/hive/hive.h"

namespace testsupport {

// How many files the guard has checked after a commit, in this process.
std::size_t guardedCommits();
// The guard itself, to try it on files of a test's own.
platform::hive::CommitObserver& commitGuard();

} // namespace testsupport
