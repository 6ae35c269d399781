#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>

// Customer card texts are kept as Windows-1252 bytes, one byte a character,
// as every installation of the address book has always stored them. Bytes
// 0x00..0x7F and 0xA0..0xFF are the Latin-1 characters of the same code; the
// row 0x80..0x9F holds the euro sign, the typographic quotes and the like.
// The five codes of that row that name no character (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) read as the control character of the same code, so that every byte
// reads back and writes back unchanged.
namespace windows1252 {

// The character a byte stands for.
char16_t toUnicode(std::uint8_t byte);

// The byte of a character, or -1 when the code page has none.
int fromUnicode(char32_t character);

// Each character becomes one byte; a character with no byte (a Greek letter,
// an emoji: one character even where it takes two UTF-16 units) becomes '?'.
QByteArray encode(QStringView text);

QString decode(const char* bytes, int count);
inline QString decode(const QByteArray& bytes) { return decode(bytes.constData(), int(bytes.size())); }

} // namespace windows1252
