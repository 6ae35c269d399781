#include "fleet/AuditConfig.h"

#include <QDir>
#include <QRegularExpression>

#include <set>

namespace fleet {

QString auditConfigPath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/pradix/audit.conf");
}

const QStringList& auditConfigKeys()
{
    static const QStringList keys = { QStringLiteral("ports"), QStringLiteral("book"),  QStringLiteral("prefix"),
                                      QStringLiteral("until"), QStringLiteral("rounds"), QStringLiteral("store"),
                                      QStringLiteral("timeout"), QStringLiteral("join") };
    return keys;
}

AuditConfig parseAuditConfig(const QByteArray& bytes)
{
    AuditConfig config;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    std::set<QString> seen;
    auto bad = [&](int number, const QString& problem) {
        if (config.badLine == 0) {
            config.badLine = number;
            config.problem = problem;
        }
    };
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = int(line.indexOf(QLatin1Char('=')));
        if (equals < 0) {
            bad(i + 1, QStringLiteral("manca \"=\": le righe sono \"chiave = valore\"."));
            continue;
        }
        const QString key = line.left(equals).trimmed();
        if (!auditConfigKeys().contains(key)) {
            bad(i + 1, QStringLiteral("chiave sconosciuta \"%1\" (%2).").arg(key, auditConfigKeys().join(QStringLiteral(", "))));
            continue;
        }
        if (!seen.insert(key).second) {
            bad(i + 1, QStringLiteral("\"%1\" è già stata data.").arg(key));
            continue;
        }
        config.lines.push_back({ i + 1, key, line.mid(equals + 1).trimmed() });
    }
    return config;
}

QStringList auditConfigPorts(const QString& value)
{
    return value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
}

} // namespace fleet
