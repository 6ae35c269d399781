#pragma once

// The serial ports this machine has, as the operator can type them in "Porta:", and a line of
// advice when one cannot be opened. Everything is read from the device folder, sysfs, /proc and
// the folder of "comN" links; a test points these at a tree of its own.

#include <QList>
#include <QString>

#include <sys/types.h>

struct PortRoots
{
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
    QString proc = QStringLiteral("/proc");
    // Where "comN" links are looked up; empty means the program's own folder (portLinkFolder()).
    QString links;
};

struct PortOffer
{
    QString name;        // what reaches the port when typed in "Porta:"
    QString description; // the adapter's maker and product, or where the name leads
};

// The "comN" links first (as "ComN"), then /dev/serial/by-id names, /dev/ttyUSB* and /dev/ttyACM*,
// then the ttyS ports that have a UART behind them (as the "ComN" that reaches them).
QList<PortOffer> listSerialPorts(const PortRoots& roots = PortRoots());

// The account a permission hint speaks to.
struct PortUser
{
    QString name;
    uid_t uid = 0;
    QList<gid_t> sessionGroups; // the groups this process runs with
    QList<gid_t> accountGroups; // the groups the account is in now, as the system's group list says
    static PortUser current();
};

// What the operator can do after the device at `path` failed to open with the system error
// `code`: join the group that owns it, pick a port that exists, close the program that holds it.
// One line in Italian, or empty when there is nothing useful to add.
QString portOpenHint(const QString& path, int code, const PortRoots& roots = PortRoots(),
                     const PortUser& user = PortUser::current());
