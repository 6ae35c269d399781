#include "serial/PortList.h"

#include "serial/CommInt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounds on what the system hands us: a text file of sysfs or /proc, a directory, the
// offers and the names in one hint line.
constexpr qint64 kMaxAttribute = 256;
constexpr int kMaxText = 64;
constexpr int kMaxEntries = 4096;
constexpr int kMaxOffers = 256;
constexpr int kMaxNamedInHint = 6;
constexpr int kMaxHolders = 3;
constexpr long kMaxFdsScanned = 200000;

QString linkFolder(const PortRoots& roots)
{
    return roots.links.isEmpty() ? portLinkFolder() : roots.links;
}

QByteArray local(const QString& path)
{
    return QFile::encodeName(path);
}

// A short attribute file, its first line with control characters dropped and its length bounded.
QString attribute(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray raw = f.read(kMaxAttribute);
    QByteArray kept;
    for (const char c : raw) {
        if (c == '\n' || c == '\0')
            break;
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            kept += c;
    }
    // USB strings reach sysfs as UTF-8; anything else shows as replacement characters.
    return QString::fromUtf8(kept).trimmed().left(kMaxText);
}

QStringList entries(const QString& folder, const QRegularExpression& pattern)
{
    QStringList names;
    QDir dir(folder);
    const QStringList all = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : all) {
        if (names.size() >= kMaxEntries)
            break;
        if (pattern.match(name).hasMatch())
            names << name;
    }
    return names;
}

// Natural order: ttyUSB2 before ttyUSB10.
void sortNatural(QStringList& names)
{
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        if (a.size() != b.size())
            return a.size() < b.size();
        return a < b;
    });
}

// The maker and product of the USB device behind a tty, found by walking up from its sysfs
// device towards the USB device that carries them; empty for anything else.
QString usbDescription(const PortRoots& roots, const QString& tty)
{
    const QString sysRoot = QFileInfo(roots.sys).canonicalFilePath();
    QString dir = QFileInfo(roots.sys + QStringLiteral("/class/tty/") + tty + QStringLiteral("/device"))
                      .canonicalFilePath();
    for (int level = 0; level < 8 && !dir.isEmpty() && !sysRoot.isEmpty() && dir.startsWith(sysRoot + '/'); ++level) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor"))) {
            const QString maker = attribute(dir + QStringLiteral("/manufacturer"));
            const QString product = attribute(dir + QStringLiteral("/product"));
            QString text = maker;
            if (!product.isEmpty() && !product.startsWith(maker))
                text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + product;
            else if (!product.isEmpty())
                text = product;
            if (text.isEmpty())
                text = QStringLiteral("USB %1:%2").arg(attribute(dir + QStringLiteral("/idVendor")),
                                                       attribute(dir + QStringLiteral("/idProduct")));
            return text;
        }
        dir = QFileInfo(dir).path();
    }
    return QString();
}

// Whether the 8250-style port ttySn has a UART: the driver lists every possible port and marks
// those with nothing behind them as type 0.
bool hasUart(const PortRoots& roots, const QString& tty)
{
    const QString type = attribute(roots.sys + QStringLiteral("/class/tty/") + tty + QStringLiteral("/type"));
    bool ok = false;
    const int value = type.toInt(&ok);
    return ok && value != 0;
}

QString ttyName(const QString& path)
{
    return QFileInfo(QFileInfo(path).canonicalFilePath()).fileName();
}

QString comName(int number)
{
    return QStringLiteral("Com%1").arg(number);
}

} // namespace

QList<PortOffer> listSerialPorts(const PortRoots& roots)
{
    QList<PortOffer> offers;
    auto offer = [&offers](const QString& name, const QString& description) {
        if (offers.size() < kMaxOffers)
            offers.append({ name, description });
    };

    // The links the operator (or the simulator) made; each one hides the ttyS of its number.
    const QString links = linkFolder(roots);
    static const QRegularExpression comLink(QStringLiteral("^com([1-9][0-9]{0,2})$"));
    QStringList linkNames = entries(links, comLink);
    sortNatural(linkNames);
    QList<int> linked;
    for (const QString& link : linkNames) {
        const int number = link.mid(3).toInt();
        linked << number;
        const QFileInfo info(links + '/' + link);
        const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
        QString description = QStringLiteral("→ ") + target.left(kMaxText * 2);
        if (!info.exists())
            description += QStringLiteral(" (assente)");
        else if (const QString usb = usbDescription(roots, ttyName(target)); !usb.isEmpty())
            description += QStringLiteral(", ") + usb;
        offer(comName(number), description);
    }

    // USB adapters: their stable names first, then the kernel's.
    const QString byId = roots.dev + QStringLiteral("/serial/by-id");
    static const QRegularExpression anyName(QStringLiteral("^[^/]{1,255}$"));
    for (const QString& id : entries(byId, anyName)) {
        const QString path = byId + '/' + id;
        if (QFileInfo::exists(path))
            offer(path, usbDescription(roots, ttyName(path)));
    }
    static const QRegularExpression usbTty(QStringLiteral("^ttyUSB[0-9]{1,4}$"));
    static const QRegularExpression acmTty(QStringLiteral("^ttyACM[0-9]{1,4}$"));
    for (const QRegularExpression* kind : { &usbTty, &acmTty }) {
        QStringList ttys = entries(roots.dev, *kind);
        sortNatural(ttys);
        for (const QString& tty : ttys)
            offer(roots.dev + '/' + tty, usbDescription(roots, tty));
    }

    // Built-in ports, reached as "ComN" unless a link of that number leads elsewhere.
    static const QRegularExpression uartTty(QStringLiteral("^ttyS([0-9]{1,3})$"));
    QStringList uarts = entries(roots.dev, uartTty);
    sortNatural(uarts);
    for (const QString& tty : uarts) {
        if (!hasUart(roots, tty))
            continue;
        const int number = tty.mid(4).toInt() + 1;
        const QString path = roots.dev + '/' + tty;
        if (linked.contains(number) || number > 999)
            offer(path, QStringLiteral("porta seriale"));
        else
            offer(comName(number), path + QStringLiteral(", porta seriale"));
    }
    return offers;
}

PortUser PortUser::current()
{
    PortUser user;
    user.uid = ::getuid();
    const gid_t egid = ::getegid();
    user.sessionGroups << egid;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i)
            user.sessionGroups << groups[static_cast<std::size_t>(i)];
    }

    std::vector<char> buffer(16384);
    passwd pw {};
    passwd* found = nullptr;
    if (::getpwuid_r(user.uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
        return user;
    user.name = QString::fromLocal8Bit(pw.pw_name);
    std::vector<gid_t> groups(256);
    int n = static_cast<int>(groups.size());
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &n) < 0 && n > 0 && n <= 65536) {
        groups.resize(static_cast<std::size_t>(n));
        if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &n) < 0)
            n = 0;
    }
    for (int i = 0; i < n && i < static_cast<int>(groups.size()); ++i)
        user.accountGroups << groups[static_cast<std::size_t>(i)];
    return user;
}

namespace {

QString groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group gr {};
    group* found = nullptr;
    if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(gr.gr_name);
    return QString::number(gid);
}

QString userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd pw {};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(pw.pw_name);
    return QString::number(uid);
}

QString permissionHint(const QString& path, const PortUser& user)
{
    const QString device = QFileInfo(path).canonicalFilePath().isEmpty() ? path : QFileInfo(path).canonicalFilePath();
    struct stat st {};
    if (::stat(local(path).constData(), &st) != 0)
        return QStringLiteral("Questo utente non ha il permesso di aprire %1.").arg(path);
    const QString group = groupName(st.st_gid);
    const QString who = user.name.isEmpty() ? QStringLiteral("$USER") : user.name;
    const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && st.st_gid != 0;
    if (groupMayUse && !user.sessionGroups.contains(st.st_gid)) {
        if (user.accountGroups.contains(st.st_gid))
            return QStringLiteral("%1 è già nel gruppo \"%2\" che possiede %3, ma questa sessione è iniziata prima: "
                                  "esci e rientra nella sessione (o riavvia), poi riprova.")
                .arg(who, group, device);
        return QStringLiteral("%1 appartiene al gruppo \"%2\": per usarlo entra nel gruppo con "
                              "\"sudo usermod -aG %2 %3\", poi esci e rientra nella sessione.")
            .arg(device, group, who);
    }
    return QStringLiteral("%1 (utente %2, gruppo %3, permessi %4) non si apre per %5: "
                          "chiedi all'amministratore il permesso di lettura e scrittura.")
        .arg(device, userName(st.st_uid), group, QString::number(st.st_mode & 07777, 8).rightJustified(4, '0'), who);
}

QString missingHint(const QString& path, int code, const PortRoots& roots)
{
    QString text;
    const QFileInfo info(path);
    // The operator typed "Com9" and reads of /dev/ttyS8: the message says that one is the other.
    QString named = path;
    static const QRegularExpression builtIn(QStringLiteral("^ttyS([0-9]{1,3})$"));
    const QRegularExpressionMatch tty = builtIn.match(info.fileName());
    if (tty.hasMatch() && QDir::cleanPath(info.path()) == QDir::cleanPath(roots.dev)) {
        const int number = tty.captured(1).toInt() + 1;
        if (number <= 999 && !QFileInfo(linkFolder(roots) + QStringLiteral("/com") + QString::number(number)).isSymLink())
            named = QStringLiteral("%1 è %2, che").arg(comName(number), path);
    }
    if (code == EIO || code == ENXIO || code == ENODEV)
        // A built-in port name with no UART behind it, or an adapter pulled out while opening.
        text = QStringLiteral("%1 non ha una porta seriale dietro.").arg(named);
    else if (info.isSymLink())
        text = QStringLiteral("Il collegamento %1 porta a %2, che non c'è.").arg(path, info.symLinkTarget().left(kMaxText * 2));
    else
        text = QStringLiteral("%1 non c'è.").arg(named);
    const QList<PortOffer> offers = listSerialPorts(roots);
    QStringList names;
    for (const PortOffer& offer : offers) {
        if (offer.description.endsWith(QStringLiteral("(assente)")))
            continue;
        if (names.size() == kMaxNamedInHint) {
            names << QStringLiteral("…");
            break;
        }
        names << offer.name;
    }
    if (names.isEmpty())
        return text + QStringLiteral(" Nessuna porta seriale trovata: collega l'adattatore e riprova.");
    return text + QStringLiteral(" Porte presenti: ") + names.join(QStringLiteral(", ")) + '.';
}

// The programs that hold the device open, as "name (pid N)", found through /proc (where it lets
// us look: another user's descriptors are hidden unless we are root).
QStringList holders(const QString& path, const PortRoots& roots)
{
    QStringList found;
    struct stat device {};
    if (::stat(local(path).constData(), &device) != 0)
        return found;
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,10}$"));
    const QString self = QString::number(::getpid());
    long scanned = 0;
    for (const QString& pid : entries(roots.proc, number)) {
        if (found.size() >= kMaxHolders || scanned >= kMaxFdsScanned)
            break;
        if (pid == self)
            continue;
        const QString fdFolder = roots.proc + '/' + pid + QStringLiteral("/fd");
        QDir fds(fdFolder);
        const QStringList list = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : list) {
            if (++scanned >= kMaxFdsScanned)
                break;
            struct stat st {};
            if (::stat(local(fdFolder + '/' + fd).constData(), &st) != 0)
                continue;
            const bool same = S_ISCHR(device.st_mode)
                ? S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev
                : st.st_dev == device.st_dev && st.st_ino == device.st_ino;
            if (same) {
                QString name = attribute(roots.proc + '/' + pid + QStringLiteral("/comm"));
                if (name.isEmpty())
                    name = QStringLiteral("?");
                found << QStringLiteral("%1 (pid %2)").arg(name, pid);
                break;
            }
        }
    }
    return found;
}

QString busyHint(const QString& path, const PortRoots& roots)
{
    const QStringList by = holders(path, roots);
    if (by.isEmpty())
        return QStringLiteral("%1 è già aperto da un altro programma: chiudilo e riprova.").arg(path);
    return QStringLiteral("%1 è già aperto da un altro programma, %2: chiudilo e riprova.")
        .arg(path, by.join(QStringLiteral(", ")));
}

} // namespace

QString portOpenHint(const QString& path, int code, const PortRoots& roots, const PortUser& user)
{
    if (path.isEmpty())
        return QString();
    switch (code) {
    case EACCES:
    case EPERM:
        return permissionHint(path, user);
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return missingHint(path, code, roots);
    case EBUSY:
    case EWOULDBLOCK:
        return busyHint(path, roots);
    default:
        return QString();
    }
}
