#pragma once

#include "serial/PortList.h"

#include <QCompleter>

class QLineEdit;
class QMouseEvent;
class QStandardItemModel;

// Offers the serial ports of this machine under a port-name box, as the operator types or on the
// Down key. The box stays free text: a name that is not offered is kept as typed. The list is
// read again each time the box gets the focus or the Down key asks for it, so an adapter
// plugged in meanwhile is offered.
class PortCompleter : public QCompleter
{
public:
    explicit PortCompleter(QLineEdit& box, const PortRoots& roots = PortRoots());

    // Reads the ports again.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void passOnPress(const QMouseEvent& press);

    QLineEdit& box_;
    PortRoots roots_;
    QStandardItemModel* ports_;
};
