// A hive on a file system that offers no advisory locks (some network and FUSE mounts): here
// every flock of this program fails as such a file system fails it. The hive is read and
// changed all the same; its commits still replace it whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/file.h>

#include "hive_fixture.h"
#include "platform/registry.h"

extern "C" int flock(int, int) {
    errno = ENOLCK;
    return -1;
}

namespace {

using namespace platform;
using testsupport::textValue;

TEST(NoAdvisoryLocks, HiveIsReadAndChanged) {
    testsupport::HiveFile hive;
    hive.make({textValue("DefaultUserName", u"before")});
    const std::string& file = hive.file;

    Key key = 0, reader = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
    const std::uint8_t name[] = "after";
    ASSERT_EQ(RegSetValueExA(key, "DefaultUserName", 0, RegSz, name, sizeof name), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(testsupport::readValue(file, "DefaultUserName"), textValue("DefaultUserName", u"after"));

    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &reader), status::Success);
    std::uint8_t buffer[64];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(reader, "DefaultUserName", nullptr, nullptr, buffer, &size), status::Success);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("after", 6));
    EXPECT_EQ(RegCloseKey(reader), status::Success);
}

} // namespace
