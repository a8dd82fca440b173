#pragma once
#include <set>
#include <string>

namespace spindle {

// One command's USB warnings. While a scope is open on a thread, a warning
// identical to one that thread already showed in the scope is counted
// instead of shown again: one unplugged device gives one box per kind of
// failure, not one per request. Scopes nest; only the outermost counts.
class CWarningScope {
public:
    CWarningScope();
    ~CWarningScope();
    CWarningScope(const CWarningScope&) = delete;
    CWarningScope& operator=(const CWarningScope&) = delete;

    // True when the warning is to be shown (the first of its text in the
    // open scope, or no scope open); counts it either way.
    static bool ShouldShow(const std::string& text);

    bool Outermost() const { return outer_ == nullptr; }
    // Warnings met in this scope, shown or not, and those not shown.
    int Failures() const { return failures_; }
    int Repeats() const { return repeats_; }

private:
    CWarningScope* outer_;
    std::set<std::string> shown_;
    int failures_ = 0;
    int repeats_ = 0;
};

}  // namespace spindle
