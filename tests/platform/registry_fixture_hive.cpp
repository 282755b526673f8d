// The registry table's fresh key on POSIX: a new hive file in a temporary folder, holding an
// empty Winlogon key, with the registry operations pointed at it.
#include "registry_fixture.h"

#include "hive_fixture.h"

namespace registrytable {

struct FreshKey::Impl {
    testsupport::TempDir dir;
    std::string file = dir.file("SOFTWARE");
    std::string subKey = testsupport::WinlogonKey;
    std::unique_ptr<testsupport::ScopedHive> scope;
};

FreshKey::FreshKey() : impl_(std::make_unique<Impl>()) {
    testsupport::makeHive(impl_->file, std::vector<testsupport::HiveValue>{});
    impl_->scope = std::make_unique<testsupport::ScopedHive>(impl_->file);
}

FreshKey::~FreshKey() = default;

const std::string& FreshKey::subKey() const { return impl_->subKey; }

void FreshKey::storeAsIs(const std::string& name, std::uint32_t type, const std::string& bytes) {
    testsupport::putValue(impl_->file, {name, type, bytes});
}

} // namespace registrytable
