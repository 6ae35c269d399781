#include "device/Frames.h"

namespace frames {

std::optional<Frame> dial(const QString& digits)
{
    if (digits.size() > MaxDialDigits)
        return std::nullopt;
    Frame frame { Start, static_cast<std::uint8_t>(digits.size() + 1), DialCode };
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        frame.push_back(static_cast<std::uint8_t>(c.unicode()));
    }
    return frame;
}

} // namespace frames
