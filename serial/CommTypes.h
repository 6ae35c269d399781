#pragma once

// The port's vocabulary: its settings as enumerations, the line events and errors it reports,
// and the line-settings record it keeps, shared by the port (serial/CommInt.h) and the mapping
// of its settings onto the terminal driver (serial/LineSettings.h).

#include <cstdint>
#include <initializer_list>

// A small set over an enumeration with at most 32 members, written like the toolkit's sets:
// TCommEventTypes{evRxChar, evTxEmpty}.
template <typename E, int N>
class TEnumSet
{
    static_assert(N > 0 && N <= 32, "too many members for one word");

public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E e : members)
            include(e);
    }
    static constexpr TEnumSet all()
    {
        TEnumSet s;
        s.fBits = N == 32 ? 0xFFFFFFFFu : ((1u << N) - 1u);
        return s;
    }
    static constexpr TEnumSet fromBits(std::uint32_t bits)
    {
        TEnumSet s;
        s.fBits = bits & all().fBits;
        return s;
    }
    constexpr bool contains(E e) const { return valid(e) && (fBits & bit(e)) != 0; }
    constexpr TEnumSet& include(E e)
    {
        if (valid(e))
            fBits |= bit(e);
        return *this;
    }
    constexpr TEnumSet& exclude(E e)
    {
        if (valid(e))
            fBits &= ~bit(e);
        return *this;
    }
    constexpr bool empty() const { return fBits == 0; }
    constexpr std::uint32_t bits() const { return fBits; }
    friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.fBits == b.fBits; }
    friend constexpr bool operator!=(TEnumSet a, TEnumSet b) { return a.fBits != b.fBits; }

private:
    static constexpr bool valid(E e) { return static_cast<int>(e) >= 0 && static_cast<int>(e) < N; }
    static constexpr std::uint32_t bit(E e) { return 1u << static_cast<int>(e); }
    std::uint32_t fBits = 0;
};

enum TBaudrate : std::uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
    br57600, br115200, br128000, br256000
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb10, sb15, sb20 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : std::uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : std::uint8_t {
    coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip
};
enum TCommEventType : std::uint8_t {
    evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty
};

using TCommOptions = TEnumSet<TCommOption, 5>;
using TCommEventTypes = TEnumSet<TCommEventType, 9>;

// Line event bits as the monitoring thread reports them (the classic communications values).
enum : std::uint32_t {
    EV_RXCHAR = 0x0001,
    EV_RXFLAG = 0x0002,
    EV_TXEMPTY = 0x0004,
    EV_CTS = 0x0008,
    EV_DSR = 0x0010,
    EV_RLSD = 0x0020,
    EV_BREAK = 0x0040,
    EV_ERR = 0x0080,
    EV_RING = 0x0100,
};

// Line error bits passed to OnError.
enum : std::uint32_t {
    CE_RXOVER = 0x0001,
    CE_OVERRUN = 0x0002,
    CE_RXPARITY = 0x0004,
    CE_FRAME = 0x0008,
    CE_BREAK = 0x0010,
};

// Line functions for Escape.
enum : int {
    SETXOFF = 1,
    SETXON = 2,
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
    SETBREAK = 8,
    CLRBREAK = 9,
};

std::uint32_t eventMaskOf(TCommEventTypes events);
int baudRateValue(TBaudrate rate);

// The line-settings record as last written to the device, in the classic field terms.
struct TDataControlBlock
{
    int BaudRate = 0;
    int ByteSize = 0;
    int Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0, XoffChar = 0, ErrorChar = 0, EofChar = 0, EvtChar = 0;
    int XonLim = 0;
    int XoffLim = 0;
    bool fOutxCtsFlow = false;
    bool fOutX = false;
    bool fInX = false;
    bool fParity = false;
    bool fErrorChar = false;
    bool fTXContinueOnXoff = false;
};
