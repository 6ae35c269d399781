#include "serial/HandlerGuard.h"

namespace {

EscapedReporter& reporter()
{
    static EscapedReporter installed;
    return installed;
}

} // namespace

void setEscapedReporter(EscapedReporter reporter)
{
    ::reporter() = std::move(reporter);
}

void reportEscaped() noexcept
{
    const EscapedReporter& report = reporter();
    if (!report)
        return;
    try {
        report(std::current_exception());
    } catch (...) {
        // A reporter that fails itself has nothing left to tell.
    }
}
