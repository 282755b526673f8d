// hive_replay HIVE OUT: writes OUT as register would write the hive HIVE with nothing changed:
// a hive that Windows left dirty with its transaction logs (HIVE.LOG1, HIVE.LOG2, HIVE.LOG, in
// any case) replayed over it, as one clean file. So a replay can be checked with other readers
// (hivexsh, regfexport, reglookup). HIVE and its logs are only read.
//
// Exit status: 0 written (a clean hive is written as it is, its write counted once more); 1 the
// hive is dirty and its logs are missing or cannot be used, which one line says, and nothing is
// made; 2 a bad command line, a file that is no hive, or OUT that cannot be made.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/hive/choice.h"
#include "platform/hive/hive.h"

namespace {

using namespace platform;

int fail(int code, const std::string& line) {
    std::fprintf(stderr, "hive_replay: %s\n", line.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail(2, "usage: hive_replay HIVE OUT");
    const std::string hive = argv[1], out = argv[2];
    std::shared_ptr<const hive::HiveLocation> at;
    if (const Status s = hive::locateHive(hive, at)) return fail(2, hive + ": cannot be opened: " + std::strerror(s));
    std::shared_ptr<hive::Session> session;
    if (hive::openSession(at, session) != status::Success) return fail(2, hive + ": not a hive, or a damaged one");
    const HiveCondition condition = hive::condition(*session);
    if (condition.state == HiveState::Dirty)
        return fail(1, hive + ": Windows left changes in its logs, " +
                           (condition.reason == FailureReason::LogsMissing
                                ? std::string("which are not beside it")
                                : std::string("which cannot be used (damaged, or another hive's)")));
    const hive::Fd target(::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!target) return fail(2, out + ": cannot be made: " + std::strerror(errno));
    if (hive::writeUnchanged(*session, target.get()) != status::Success || fsync(target.get()) != 0) {
        ::unlink(out.c_str());
        return fail(2, out + ": cannot be written");
    }
    if (condition.state == HiveState::Recovered)
        std::printf("recovered: %u log %s replayed\n", condition.replayed, condition.replayed == 1 ? "entry" : "entries");
    else
        std::printf("clean\n");
    return 0;
}
