#include "hive_guard.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <sys/mman.h>

#include "hive_check.h"
#include "hive_fixture.h"
#include "platform/hive/hive.h"

namespace testsupport {
namespace {

// Watches the engine's commits: each file is checked just before a commit replaces it, then
// the new file, which must add no finding of its own.
class Guard final : public platform::hive::CommitObserver {
public:
    Guard() { platform::hive::observeCommits(this); }
    ~Guard() override { platform::hive::observeCommits(nullptr); }

    // A hive whose logs were replayed: the commit answers for what it adds to the hive it
    // started from, not to the file without its logs.
    void startsFrom(const std::string& path, const platform::hive::Session& hive) override {
        std::lock_guard lock(mutex_);
        const platform::hive::Fd image(memfd_create("replayed", MFD_CLOEXEC));
        if (!image || platform::hive::writeUnchanged(hive, image.get()) != platform::status::Success) {
            ADD_FAILURE() << "the replayed hive of " << path << " cannot be written out";
            return;
        }
        replayed_[path] = checkHive(fileBytes("/proc/self/fd/" + std::to_string(image.get())));
    }

    void replacing(const std::string& path) override {
        std::lock_guard lock(mutex_);
        const auto replayed = replayed_.find(path);
        before_[path] = replayed != replayed_.end() ? replayed->second : checkHiveFile(path);
        if (replayed != replayed_.end()) replayed_.erase(replayed);
    }

    void replaced(const std::string& path) override {
        std::lock_guard lock(mutex_);
        const HiveCheck now = checkHiveFile(path);
        ++commits_;
        const auto faults = commitFaults(before_[path], now);
        if (!faults.empty())
            ADD_FAILURE() << "a commit wrote " << path << " with faults that the file it replaced did not have:\n"
                          << describe(faults);
        before_.erase(path);
    }

    std::size_t commits() {
        std::lock_guard lock(mutex_);
        return commits_;
    }

private:
    std::mutex mutex_;
    std::map<std::string, HiveCheck> before_, replayed_;
    std::size_t commits_ = 0;
};

Guard& guard() {
    static Guard g;
    return g;
}

// Every test program that links the guard has it from its start.
const bool attached = (guard(), true);

} // namespace

std::size_t guardedCommits() { return guard().commits(); }

platform::hive::CommitObserver& commitGuard() { return guard(); }

} // namespace testsupport
