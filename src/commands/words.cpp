#include "commands/words.h"

#include "commands/values.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace commands {

namespace {

using platform::FailureReason;
using winlogon::Keep;
using Step = winlogon::SaveFailure::Step;

std::string quoted(const std::string& path) { return Quoted(path); }

// The names of a hive file's transaction logs: its own name with .LOG1, .LOG2 and .LOG.
std::string logNames(const std::string& path) {
    const std::string name = platform::toUtf8(platform::console::escapedPath(path.substr(path.find_last_of('/') + 1)));
    return name + ".LOG1, " + name + ".LOG2, " + name + ".LOG";
}

} // namespace

std::string FailureDetailWords(const platform::FailureDetail& detail) {
    const std::string path = quoted(detail.path);
    switch (detail.reason) {
    case FailureReason::None: return {};
    case FailureReason::LogsMissing:
        return "Windows left changes of " + path + " in logs that are not beside it (" + logNames(detail.path) +
               "): put them back beside the hive, or start that Windows and shut it down completely, then try again";
    case FailureReason::LogsUnusable:
        return "Windows left changes of " + path + " in logs that cannot be used (" + logNames(detail.path) +
               ": damaged, or another hive's): start that Windows and shut it down completely, then try again";
    case FailureReason::HardLinks: return path + " has other names (hard links): remove them, then try again";
    case FailureReason::FileNotWritable: return "no right to write " + path + ": run as a user who may, or change its permissions";
    case FailureReason::FolderNotWritable:
        return "no right to write the folder " + path + ", where the new hive is made: run as a user who may, or change its permissions";
    case FailureReason::OwnerNotReproducible:
        return "the owner or group of " + path + " cannot be passed on: run as its owner in its group, or as root";
    case FailureReason::ReadOnlyFileSystem: return path + " is on a read-only file system: mount it writable";
    case FailureReason::SizeLimit: return "the hive would pass 2 GB: make room in it with Windows itself";
    case FailureReason::LinkInPlace:
        return "a symbolic link now stands where " + path + " was at the start: put the file back, or name the hive again";
    case FailureReason::AttributesNotCarried:
        return "the access list, security label, or Windows security descriptor and attributes (NTFS) of " + path +
               " cannot be passed on: run as its owner or as root";
    case FailureReason::HiveGone:
        return path + " is gone (deleted, or its folder moved or removed) since the start: put it back, or name the hive again";
    case FailureReason::FolderNotPrivate:
        return "the folder " + path + " is not yours alone: remove it or make it yours with mode 0700, or name a hive";
    }
    return {};
}

namespace {

// What to do about a failure with that code, when the hive says no more.
std::string remedyWords(platform::Status code) {
    namespace status = platform::status;
    switch (code) {
    case status::AccessDenied: return "run as a user who may write it (an administrator)";
    case status::DiskFull: return "free some space, then try again";
    case status::NotEnoughMemory: return "close other programs, then try again";
    case status::SharingViolation: return "close the program that uses the hive, then try again";
    case status::BadDatabase:
    case status::RegistryCorrupt: return "restore the hive from a backup, or let Windows repair it";
    default: return "check the disk and the hive file, then try again";
    }
}

std::string list(const std::vector<std::u16string>& values) {
    std::string out;
    for (const std::u16string& v : values) out += (out.empty() ? "" : ", ") + platform::toUtf8(v);
    return out;
}

} // namespace

std::string_view KeepKey(Keep keep) {
    switch (keep) {
    case Keep::No: return "";
    case Keep::TooLong: return "too-long";
    case Keep::OtherType: return "other-type";
    case Keep::DataAfterNul: return "data-after-nul";
    case Keep::NotCodePageText: return "not-code-page-932-text";
    case Keep::BeyondCodePage: return "beyond-code-page-932";
    case Keep::WithNoticeText: return "with-notice-text";
    }
    return "";
}

std::string_view KeepWords(Keep keep) {
    switch (keep) {
    case Keep::No: return "";
    case Keep::TooLong: return "too long to show";
    case Keep::OtherType: return "stored as another type than REG_SZ";
    case Keep::DataAfterNul: return "data after the NUL that ends its text";
    case Keep::NotCodePageText: return "bytes that are no code page 932 text";
    case Keep::BeyondCodePage: return "characters that code page 932 cannot hold";
    case Keep::WithNoticeText: return "kept with the notice text, which shows the notice as off";
    }
    return "";
}

std::string_view StateKey(const platform::HiveCondition& condition) {
    switch (condition.state) {
    case platform::HiveState::Clean: return "clean";
    case platform::HiveState::Recovered: return "recovered";
    case platform::HiveState::Dirty: return "dirty";
    }
    return "";
}

std::string StateWords(const platform::HiveCondition& condition) {
    const std::string key(StateKey(condition));
    switch (condition.state) {
    case platform::HiveState::Clean: return key;
    case platform::HiveState::Recovered:
        return key + " (" + std::to_string(condition.replayed) + " log " + (condition.replayed == 1 ? "entry" : "entries") +
               " replayed)";
    case platform::HiveState::Dirty:
        return key + (condition.reason == FailureReason::LogsMissing
                          ? " (Windows' last changes are in logs that are not beside it: shown as the file holds it)"
                          : " (Windows' last changes are in logs that cannot be used: shown as the file holds it)");
    }
    return key;
}

std::string StatusWords(platform::Status code) {
    namespace status = platform::status;
    switch (code) {
    case status::FileNotFound: return "not found";
    case status::AccessDenied: return "access denied";
    case status::InvalidHandle: return "invalid handle";
    case status::NotEnoughMemory: return "not enough memory";
    case status::WriteFault: return "cannot write to the device";
    case status::SharingViolation: return "in use by another process";
    case status::InvalidParameter: return "invalid parameter";
    case status::DiskFull: return "not enough space on the disk";
    case status::MoreData: return "more data than the buffer holds";
    case status::BadDatabase:
    case status::RegistryCorrupt: return "the registry data is damaged";
    case status::RegistryIoFailed: return "the hive could not be read or written";
    default: return "error " + std::to_string(code);
    }
}

std::string SaveFailureWords(const winlogon::SaveFailure& failure) {
    const std::string value = platform::toUtf8(failure.value);
    std::string what;
    switch (failure.step) {
    case Step::None: return {};
    case Step::Open: what = "cannot open the Winlogon key for writing"; break;
    case Step::Set: what = "cannot write " + value; break;
    case Step::Delete: what = "cannot delete " + value; break;
    case Step::Close: what = "cannot write the changes"; break;
    case Step::TooLong: what = value + " is too long to write"; break;
    }
    std::string remedy = FailureDetailWords(failure.detail);
    if (remedy.empty())
        remedy = failure.step == Step::Open && failure.code == platform::status::FileNotFound
                     ? "the hive has no Winlogon key: name the SOFTWARE hive of a Windows installation"
                     : remedyWords(failure.code);
    const std::string saved = failure.saved.empty()
                                  ? "nothing was saved"
                                  : "saved: " + list(failure.saved) + "; not saved: " + list(failure.notSaved);
    return what + ": " + StatusWords(failure.code) + ": " + remedy + "; " + saved;
}

} // namespace commands
