#pragma once

class QLineEdit;
class TALed;
class TCustomComm;

// The serial link around every exchange, shared by both windows: the port is
// opened on the name in the port box for each exchange and closed at its
// end, and the LED's off-colour tells the operator whether one is under way
// (red while busy, green when idle).
class Link
{
public:
    Link(TCustomComm& port, const QLineEdit& portName, TALed& led);

    // LED red, then the port opened on the port box's name with RTS and DTR
    // raised, in that order. A port that cannot be opened (or is still open
    // from an unfinished exchange) raises ECommError to the caller and leaves
    // the LED red.
    void begin();
    // The port closed, the LED left as it is: a failed exchange stays red.
    void close();
    // The port closed and the LED green: the exchange is over.
    void finish();
    // The LED alone: red while busy, green when idle.
    void showBusy(bool busy);

private:
    TCustomComm& port_;
    const QLineEdit& portName_;
    TALed& led_;
};
