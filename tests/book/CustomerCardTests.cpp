#include "book/CustomerCard.h"
#include "device/Windows1252.h"
#include "device/TableGrid.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using Field = CustomerCard::Field;

namespace {

using Bytes = std::array<std::uint8_t, 3454>;

Bytes bytesOf(const CustomerCard& card)
{
    Bytes bytes;
    std::memcpy(bytes.data(), card.data(), bytes.size());
    return bytes;
}

void put(Bytes& bytes, int offset, const char* text)
{
    bytes[size_t(offset)] = std::uint8_t(std::strlen(text));
    std::memcpy(bytes.data() + offset + 1, text, std::strlen(text));
}

} // namespace

// Every field at its offset with its length byte, texts cut to capacity and
// stored as Windows-1252, one byte a grid cell row by row; and back again.
TEST(CustomerCard, StoresEveryFieldAtItsPlaceAndReadsItBack)
{
    CustomerCard card;
    card.setText(Field::Nome, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY")); // 25 characters
    card.setText(Field::Cognome, QStringLiteral("NICOLÒ"));
    card.setText(Field::Numero, QStringLiteral("0212345678"));
    card.setText(Field::Indirizzo, QString());
    card.setText(Field::Citta, QStringLiteral("CANTÙ €"));
    card.setText(Field::Provincia, QStringLiteral("COMO"));
    card.setText(Field::Cap, QStringLiteral("22063"));

    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    grid.setCell(1, 1, QStringLiteral("U"));
    grid.setCell(3, 2, QStringLiteral("12")); // only its first character is kept
    grid.setCell(5, 5, QString());            // an empty cell
    grid.setCell(7, 7, QString(QChar(0xE8)));
    grid.setCell(8, 7, QString(QChar(0)));
    grid.setCell(9, 7, QString(QChar(0x20AC))); // no byte: a character the grid never holds
    grid.setCell(26, 128, QStringLiteral("#"));
    card.takeSummaryFrom(grid);

    Bytes expected{};
    put(expected, 0, "ABCDEFGHIJKLMNOPQRST");
    put(expected, 21, "NICOL\xD2");
    put(expected, 42, "0212345678");
    // Indirizzo at 63 stays length 0.
    put(expected, 94, "CANT\xD9 \x80");
    put(expected, 115, "COMO");
    put(expected, 120, "22063");
    for (int i = 126; i < 3454; ++i)
        expected[size_t(i)] = '-';
    expected[126] = 'U';
    expected[126 + 26 + 2] = '1';
    expected[126 + 4 * 26 + 4] = 0;
    expected[126 + 6 * 26 + 6] = 0xE8;
    expected[126 + 6 * 26 + 7] = 0;
    expected[126 + 6 * 26 + 8] = '?';
    expected[3453] = '#';
    EXPECT_EQ(bytesOf(card), expected);

    EXPECT_EQ(card.text(Field::Nome), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    EXPECT_EQ(card.text(Field::Cognome), QStringLiteral("NICOLÒ"));
    EXPECT_EQ(card.text(Field::Indirizzo), QString());
    EXPECT_EQ(card.text(Field::Citta), QStringLiteral("CANTÙ €"));
    EXPECT_EQ(card.text(Field::Cap), QStringLiteral("22063"));

    TableGrid shown;
    card.showSummaryIn(shown);
    EXPECT_EQ(shown.cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(shown.cell(3, 2), QStringLiteral("1"));
    EXPECT_EQ(shown.cell(5, 5), QString(QChar(0)));
    EXPECT_EQ(shown.cell(7, 7), QString(QChar(0xE8)));
    EXPECT_EQ(shown.cell(26, 128), QStringLiteral("#"));
    EXPECT_EQ(shown.cell(0, 0), QString()); // the fixed cells are not the card's
    EXPECT_EQ(shown.cell(1, 0), QString());
    EXPECT_EQ(shown.cell(0, 1), QString());
    for (int r = 1; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            ASSERT_EQ(shown.cell(c, r).size(), 1) << c << "," << r;

    // A second, shorter text leaves nothing of the first behind.
    card.setText(Field::Nome, QStringLiteral("AL"));
    EXPECT_EQ(card.data()[0], 2);
    for (int i = 3; i <= 20; ++i)
        EXPECT_EQ(card.data()[i], 0) << i;
}

// A card from another machine may carry any length byte: it never reaches
// past its own field.
TEST(CustomerCard, LengthBytesBeyondCapacityReadAsCapacity)
{
    CustomerCard card;
    std::uint8_t* b = card.data();
    std::memset(b, 'X', 126);
    b[21] = 0xFF;  // Cognome, capacity 20
    b[42] = 3;     // Numero follows it
    b[115] = 5;    // Provincia, capacity 4
    b[120] = 0xC8; // Cap, capacity 5, ends where the summary starts
    b[126] = 'Z';
    EXPECT_EQ(card.text(Field::Cognome), QString(20, QLatin1Char('X')));
    EXPECT_EQ(card.textLength(Field::Provincia), 4);
    EXPECT_EQ(card.text(Field::Cap), QStringLiteral("XXXXX"));
    EXPECT_EQ(card.text(Field::Numero), QStringLiteral("XXX"));
}

TEST(Windows1252, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = windows1252::decode(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(windows1252::encode(text), all);
    EXPECT_EQ(text.at(0xE8), QChar(u'è'));
    EXPECT_EQ(text.at(0x80), QChar(0x20AC));
    EXPECT_EQ(text.at(0x93), QChar(0x201C));
    EXPECT_EQ(text.at(0x9F), QChar(0x0178));

    EXPECT_EQ(windows1252::encode(QStringLiteral("è")), QByteArray("\xE8"));
    EXPECT_EQ(windows1252::encode(QStringLiteral("“Perché” € Ω")), QByteArray("\x93Perch\xE9\x94 \x80 ?"));
    // One character outside the basic plane is one '?', not two.
    EXPECT_EQ(windows1252::encode(QString::fromUcs4(U"A\U0001F600B")), QByteArray("A?B"));
    // A C1 control the code page puts a printable character on has no byte.
    EXPECT_EQ(windows1252::encode(QString(QChar(0x80))), QByteArray("?"));
}
