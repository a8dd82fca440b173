#include "device/WarningScope.h"

namespace spindle {

namespace {
// Each thread's open scope: workers report their own warnings uncounted.
thread_local CWarningScope* current = nullptr;
}  // namespace

CWarningScope::CWarningScope() : outer_(current) {
    if (outer_ == nullptr) current = this;
}

CWarningScope::~CWarningScope() {
    if (current == this) current = nullptr;
}

bool CWarningScope::ShouldShow(const std::string& text) {
    CWarningScope* scope = current;
    if (scope == nullptr) return true;
    ++scope->failures_;
    if (scope->shown_.insert(text).second) return true;
    ++scope->repeats_;
    return false;
}

}  // namespace spindle
