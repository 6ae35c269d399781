#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// The nightly audit's configuration, audit.conf: "chiave = valore" lines,
// blank lines and lines starting with "#" left out. The nightly run and the
// fleet window read it alike; each then checks the values it uses.
namespace fleet {

// $XDG_CONFIG_HOME/pradix/audit.conf (an absolute XDG_CONFIG_HOME only), else
// ~/.config/pradix/audit.conf.
QString auditConfigPath();

// A configuration is a few lines; a longer file was named by mistake.
constexpr qint64 MaxAuditConfigBytes = 64 * 1024;

// The keys it may hold: ports, book, prefix, until, rounds, store, timeout, join.
const QStringList& auditConfigKeys();

struct AuditConfigLine
{
    int number = 0; // from 1
    QString key;
    QString value;
};

struct AuditConfig
{
    std::vector<AuditConfigLine> lines; // the well-formed ones, in order
    // The first line that is not "chiave = valore" with a known key given
    // once (0 for none), and what is wrong with it, in Italian.
    int badLine = 0;
    QString problem;
};

AuditConfig parseAuditConfig(const QByteArray& bytes);

// "com1 com2", "com1, com2": the ports of a "ports" value.
QStringList auditConfigPorts(const QString& value);

} // namespace fleet
