// The registry table's fresh key on POSIX: a new hive file in a temporary folder, holding an
// empty Winlogon key, with the registry operations pointed at it.
#include "registry_fixture.h"

#include "hive_fixture.h"

namespace registrytable {

struct FreshKey::Impl {
    testsupport::HiveFile hive;
    std::string subKey = testsupport::WinlogonKey;
};

FreshKey::FreshKey() : impl_(std::make_unique<Impl>()) { impl_->hive.make(std::vector<testsupport::HiveValue>{}); }

FreshKey::~FreshKey() = default;

const std::string& FreshKey::subKey() const { return impl_->subKey; }

bool FreshKey::storeAsIs(const std::string& name, std::uint32_t type, const std::string& bytes) {
    testsupport::putValue(impl_->hive.file, {name, type, bytes});
    return true;
}

} // namespace registrytable
