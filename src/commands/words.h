// What the commands say, in English as the rest of the command line does: why a value is kept
// as stored, what a register that could not save failed on and what to do about it.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "winlogon/Module1.h"

namespace commands {

// The reason a value is kept as stored, as a JSON key ("too-long") and in words.
std::string_view KeepKey(winlogon::Keep keep);
std::string_view KeepWords(winlogon::Keep keep);

// A register that could not save, on one line: what failed, why, what to do, what was saved.
std::string SaveFailureWords(const winlogon::SaveFailure& failure);

// What loading found of the hive's last write, as a JSON value ("clean", "recovered", "dirty")
// and in words: how many log entries were replayed, or why the logs were not.
std::string_view StateKey(const platform::HiveCondition& condition);
std::string StateWords(const platform::HiveCondition& condition);

// Why the hive could not be used and what to do, when the hive itself says why; empty when it
// does not.
std::string FailureDetailWords(const platform::FailureDetail& detail);

// A registry status code in a few words ("access denied").
std::string StatusWords(platform::Status code);

} // namespace commands
