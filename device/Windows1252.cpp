#include "device/Windows1252.h"

namespace windows1252 {

namespace {

// 0x80..0x9F. The five unassigned codes keep their own value.
constexpr char16_t HighRow[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98..9F
};

} // namespace

char16_t toUnicode(std::uint8_t byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return HighRow[byte - 0x80];
    return byte;
}

int fromUnicode(char32_t character)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return int(character);
    for (int i = 0; i < 32; ++i)
        if (HighRow[i] == character)
            return 0x80 + i;
    return -1;
}

QByteArray encode(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t character = text[i].unicode();
        if (QChar::isHighSurrogate(character) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            character = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const int byte = fromUnicode(character);
        bytes.append(byte < 0 ? '?' : char(byte));
    }
    return bytes;
}

QString decode(const char* bytes, int count)
{
    QString text;
    text.reserve(count);
    for (int i = 0; i < count; ++i)
        text.append(QChar(toUnicode(std::uint8_t(bytes[i]))));
    return text;
}

} // namespace windows1252
