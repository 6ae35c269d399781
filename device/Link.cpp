#include "device/Link.h"

#include "serial/CommInt.h"
#include "widgets/ALed.h"

#include <QLineEdit>

Link::Link(TCustomComm& port, const QLineEdit& portName, TALed& led)
    : port_(port)
    , portName_(portName)
    , led_(led)
{
}

void Link::begin()
{
    showBusy(true);
    port_.setDeviceName(portName_.text());
    port_.Open();
    port_.SetRTS(true);
    port_.SetDTR(true);
}

void Link::close()
{
    port_.Close();
}

void Link::finish()
{
    port_.Close();
    showBusy(false);
}

void Link::showBusy(bool busy)
{
    led_.setFalseColor(busy ? clRed : clGreen);
}
