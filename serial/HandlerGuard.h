#pragma once

#include <exception>
#include <functional>
#include <utility>

// What becomes of an exception that an event handler lets escape. The
// toolkit's frames are not exception-safe, so nothing may unwind through
// them: every handler is guarded where it is connected, and the port's
// hand-over from its monitoring thread reports the same way. The program
// installs its reporter at start-up (serial errors to the operator, the rest
// dropped); with none installed an escaped exception is dropped.
using EscapedReporter = std::function<void(std::exception_ptr error)>;

void setEscapedReporter(EscapedReporter reporter);

// Hands the exception being handled to the reporter; call it from a catch block.
void reportEscaped() noexcept;

// A handler as a slot: what it lets escape goes to the reporter here, before
// it could reach the toolkit. It takes the arguments the handler takes, so a
// signal connects to it as it would to the handler (extra arguments of the
// signal are left out, as for any slot).
template <typename Handler>
class Guarded
{
public:
    explicit Guarded(Handler handler)
        : handler_(std::move(handler))
    {
    }

    template <typename... Args>
    auto operator()(Args&&... args) const
        -> decltype(std::declval<const Handler&>()(std::forward<Args>(args)...), void())
    {
        try {
            handler_(std::forward<Args>(args)...);
        } catch (...) {
            reportEscaped();
        }
    }

private:
    Handler handler_;
};

template <typename Handler>
Guarded<Handler> guarded(Handler handler)
{
    return Guarded<Handler>(std::move(handler));
}
