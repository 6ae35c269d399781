#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The command frames of the line, in one place: 0x02, a length byte giving
// the number of bytes that follow it, a command code, then the payload. The
// box answers a table write sent from a remote site with a reply frame of the
// same layout (recognised by ReceiveBuffer).
namespace frames {

using Frame = std::vector<std::uint8_t>;

constexpr std::uint8_t Start = 0x02;

// Command codes.
constexpr std::uint8_t ReadCode = 0x01;
constexpr std::uint8_t WriteCode = 0x02;
constexpr std::uint8_t DialCode = 0x03;
constexpr std::uint8_t RemoteReadCode = 0x05;
constexpr std::uint8_t RemoteWriteCode = 0x06;

// The box's whole table, from the box on the line.
constexpr std::array<std::uint8_t, 3> ReadRequest { Start, 0x01, ReadCode };
// The table follows this one to the box on the line.
constexpr std::array<std::uint8_t, 3> WriteRequest { Start, 0x01, WriteCode };
// The same two, to the box the dialling unit has called.
constexpr std::array<std::uint8_t, 3> RemoteReadRequest { Start, 0x01, RemoteReadCode };
constexpr std::array<std::uint8_t, 3> RemoteWriteRequest { Start, 0x01, RemoteWriteCode };
// The dial layout with 02 02 in place of digits: the dialling unit releases the line.
constexpr std::array<std::uint8_t, 5> HangUp { Start, 0x03, DialCode, 0x02, 0x02 };

// Reply codes of the box after a remote table write.
constexpr std::uint8_t ReplyReceived = 7;
constexpr std::uint8_t ReplyError = 8;

// The length byte counts the code and the digits in 8 bits.
constexpr int MaxDialDigits = 254;

// 02, n + 1, 03 and the digits as ASCII codes. A number that holds anything
// but the digits 0..9, or more digits than a frame can carry, has no frame:
// it is refused whole rather than dialled cut short.
std::optional<Frame> dial(const QString& digits);

} // namespace frames
