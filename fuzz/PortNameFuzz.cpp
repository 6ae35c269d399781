// The port name as the operator types or pastes it: any text. A blank name
// names nothing; a name with a '/' is a path the operator chose; any other
// name must stay in the places ports are looked up in, the links folder or
// /dev/, one entry deep ("." and ".." name /dev and / themselves, folders that
// opening refuses as no device); "ComN" must
// take its link when there is one and else the N-th serial port. The text is
// the input bytes as UTF-16, so every character, the code 0 included, occurs.
#include "fuzz/FuzzCheck.h"
#include "serial/CommInt.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>

#include <unistd.h>

namespace {

QString configHome;

void removeConfig()
{
    if (!configHome.isEmpty())
        QDir(configHome).removeRecursively();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/pradix-portfuzz-XXXXXX";
    fuzzCheck(::mkdtemp(pattern.data()) != nullptr, "no scratch folder");
    configHome = QString::fromLocal8Bit(pattern);
    std::atexit(removeConfig);
    qputenv("XDG_CONFIG_HOME", pattern);
    // com7 is linked (dangling on purpose: the link decides, not its target).
    fuzzCheck(QDir().mkpath(portLinkFolder()), "no links folder");
    fuzzCheck(::symlink("/nonexistent/pradix-port", QFile::encodeName(portLinkFolder() + "/com7").constData()) == 0,
              "no link");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QString name(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QString path = resolvePortName(name);
    const QString trimmed = name.trimmed();

    if (trimmed.isEmpty()) {
        fuzzCheck(path.isEmpty(), "a blank name names a device");
        return 0;
    }
    fuzzCheck(!path.isEmpty(), "a name names nothing");
    if (trimmed.contains(QLatin1Char('/'))) {
        fuzzCheck(path == trimmed, "a path was not taken as typed");
        return 0;
    }

    const int cut = int(path.lastIndexOf(QLatin1Char('/')));
    const QString folderPart = path.left(cut);
    const QString entry = path.mid(cut + 1);
    fuzzCheck(folderPart == QLatin1String("/dev") || folderPart == portLinkFolder(),
              "a name reached outside /dev and the links folder");
    fuzzCheck(!entry.isEmpty(), "a name resolved to a folder");

    static const QRegularExpression comName(QStringLiteral("^com([1-9][0-9]{0,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch com = comName.match(trimmed);
    if (!com.hasMatch()) {
        fuzzCheck(folderPart == QLatin1String("/dev") && entry == trimmed, "a plain name not looked up in /dev");
    } else if (com.captured(1) == QLatin1String("7")) {
        fuzzCheck(path == portLinkFolder() + QStringLiteral("/com7"), "a linked port did not take its link");
    } else {
        fuzzCheck(path == QStringLiteral("/dev/ttyS%1").arg(com.captured(1).toInt() - 1),
                  "an unlinked ComN is not the N-th serial port");
    }
    return 0;
}
