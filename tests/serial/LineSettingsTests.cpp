// The line settings as the terminal driver holds them: applied at once while the port is open,
// refused when the driver cannot carry them, and a raw line that carries every byte unchanged.

#include "serial/CommInt.h"
#include "PortFixture.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <termios.h>

using porttest::Port;
using porttest::waitMs;

TEST_F(Port, LineSettingsApplyAtOnceWhileOpen)
{
    port.Open();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_TRUE(t.c_cflag & HUPCL) << "DTR must drop when the port is let go, killed or not";
    EXPECT_EQ(port.DataControlBlock().XonLim, 1024);
    EXPECT_EQ(port.DataControlBlock().XoffLim, 1024);

    port.setBaudRate(br115200);
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));

    // Settings the terminal cannot give are refused, not silently dropped.
    EXPECT_COMM_ERROR(port.setDatabits(da4), "Error updating DataControlBlock", EINVAL);
    port.setDatabits(da8);
    EXPECT_COMM_ERROR(port.setFlowControl(fcDTR), "Error updating DataControlBlock", EINVAL);
    port.setFlowControl(fcNone);
    EXPECT_COMM_ERROR(port.setOptions({coNullStrip}), "Error updating DataControlBlock", EINVAL);
    port.setOptions({});
    // A pseudo-terminal has no parity; reading the settings back shows the driver refused it.
    EXPECT_COMM_ERROR(port.setParity(paEven), "Error updating DataControlBlock", EINVAL);
    port.setParity(paNone);

    // Software handshake is there only when asked for; the other modes add theirs to it and
    // only fcNone takes every handshake away.
    auto handshakes = [&] {
        termios now{};
        EXPECT_EQ(tcgetattr(pty.slave, &now), 0);
        return std::make_pair((now.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), (now.c_cflag & CRTSCTS) != 0);
    };
    port.setFlowControl(fcSoftware);
    EXPECT_EQ(handshakes(), std::make_pair(true, false));
    port.setFlowControl(fcCTS);
    EXPECT_EQ(handshakes(), std::make_pair(true, true));
    port.setFlowControl(fcDefault);
    EXPECT_EQ(handshakes(), std::make_pair(true, true));
    EXPECT_TRUE(port.DataControlBlock().fOutX);
    port.setFlowControl(fcNone);
    EXPECT_EQ(handshakes(), std::make_pair(false, false));
    EXPECT_TRUE(port.Enabled());

    // A device opened afresh keeps no software handshake it was left with: that is the cooked
    // terminal's, not the line's.
    port.setFlowControl(fcSoftware);
    port.Close();
    port.setFlowControl(fcDefault);
    port.Open();
    EXPECT_FALSE(handshakes().first);
}

TEST_F(Port, ParityCheckOptionChecksTheParityOfWhatArrives)
{
    port.Open();
    auto checking = [&] {
        termios now{};
        EXPECT_EQ(tcgetattr(pty.slave, &now), 0);
        return (now.c_iflag & INPCK) != 0;
    };
    EXPECT_FALSE(checking());
    port.setOptions({coParityCheck});
    EXPECT_TRUE(checking());
    EXPECT_TRUE(port.DataControlBlock().fParity);
    port.setOptions({coParityCheck, coErrorChar});
    EXPECT_TRUE(checking());
    // A replacement character without the check replaces nothing.
    port.setOptions({coErrorChar});
    EXPECT_FALSE(checking());
    port.setOptions({});
    EXPECT_FALSE(checking());
}

TEST_F(Port, EveryByteValuePassesUnchangedBothWays)
{
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON); // the line really starts cooked

    port.Open();
    port.SetRTS(true); // a pseudo-terminal has no modem lines: accepted as done
    port.SetDTR(true);

    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);

    ASSERT_TRUE(pty.send(all));
    QByteArray got;
    char buf[512];
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const int n = port.Read(buf, int(sizeof buf));
        if (n > 0)
            got.append(buf, n);
        return got.size() >= 256;
    }, waitMs));
    EXPECT_EQ(got, all);

    EXPECT_EQ(port.Write(all.constData(), int(all.size())), 256);
    // Anything echoed or expanded would show up here as a difference.
    EXPECT_EQ(pty.receive(256), all);
}
