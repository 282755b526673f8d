// What the engine knows, beyond a status code, about why the registry operation that runs
// now failed: the part that failed notes it, and the registry's caller reads it back through
// LastFailureDetail.
#pragma once

#include <string>

#include "platform/registry.h"

namespace platform::hive {

// The detail of the failure that the running registry operation is about to return; each
// operation begins with none.
void noteFailure(FailureReason reason, std::string path = {});
void clearFailure();

} // namespace platform::hive
