#include "platform/hive/failure.h"

#include <utility>

namespace platform::hive {
namespace {

thread_local FailureDetail lastFailure;

} // namespace

void noteFailure(FailureReason reason, std::string path) { lastFailure = {reason, std::move(path)}; }
void clearFailure() { lastFailure = {}; }

} // namespace platform::hive

namespace platform {
FailureDetail LastFailureDetail() { return hive::lastFailure; }
} // namespace platform
