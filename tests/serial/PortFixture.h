#pragma once

// What the port's tests share: the port set up as the program sets it up, on a pseudo-terminal
// of the test's own, and a check of the serial error a statement raises.

#include "serial/CommInt.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

namespace porttest {

constexpr int waitMs = 20000; // generous: sanitizers on a busy machine

// The port as the main window sets it up.
inline void configureLikeProgram(TComm& port, const QString& device)
{
    port.setReadTimeout(4000);
    port.setWriteTimeout(2000);
    port.setWriteBufSize(4096);
    port.setMonitorEvents({evRxChar, evTxEmpty});
    port.setFlowControl(fcNone);
    port.setBaudRate(br9600);
    port.setDatabits(da8);
    port.setParity(paNone);
    port.setStopbits(sb10);
    port.setDeviceName(device);
}

template <typename F>
ECommError commErrorOf(F&& f)
{
    try {
        f();
    } catch (const ECommError& e) {
        return e;
    }
    ADD_FAILURE() << "no ECommError raised";
    return ECommError(QString(), 0);
}

class Port : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        configureLikeProgram(port, pty.path);
    }
    PtyPair pty;
    TComm port;
};

} // namespace porttest

#define EXPECT_COMM_ERROR(stmt, text, code)                                   \
    do {                                                                      \
        const ECommError e_ = porttest::commErrorOf([&] { stmt; });          \
        EXPECT_EQ(e_.Message(), QStringLiteral(text " (Error: %1) ").arg(code)); \
        EXPECT_EQ(e_.ErrorCode(), code);                                      \
    } while (0)
