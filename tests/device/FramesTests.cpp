// The dial frame: its length byte, its digits, and the numbers it refuses.

#include "device/Frames.h"

#include <gtest/gtest.h>

using frames::Frame;

TEST(DialFrame, CarriesTheLengthAndTheDigitsAsAscii)
{
    EXPECT_EQ(frames::dial(QStringLiteral("0")), (Frame { 0x02, 0x02, 0x03, 0x30 }));
    EXPECT_EQ(frames::dial(QStringLiteral("0123456789")),
              (Frame { 0x02, 0x0B, 0x03, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39 }));
    // An empty number still goes out: the unit gets a dial command without digits.
    EXPECT_EQ(frames::dial(QString()), (Frame { 0x02, 0x01, 0x03 }));
}

TEST(DialFrame, LongestNumberFitsTheLengthByte)
{
    const auto frame = frames::dial(QString(254, QLatin1Char('7')));
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->size(), 257u);
    EXPECT_EQ((*frame)[1], 0xFF);
    EXPECT_EQ(frame->back(), 0x37);
}

TEST(DialFrame, RefusesWhatItCannotCarryWhole)
{
    EXPECT_FALSE(frames::dial(QString(255, QLatin1Char('1'))).has_value());
    EXPECT_FALSE(frames::dial(QString(1000, QLatin1Char('1'))).has_value());
    for (const QString& number : { QStringLiteral("12a4"), QStringLiteral("+39"), QStringLiteral("1 2"),
                                   QStringLiteral("*"), QStringLiteral("#"), QStringLiteral("\u0663") })
        EXPECT_FALSE(frames::dial(number).has_value()) << number.toStdString();
}
