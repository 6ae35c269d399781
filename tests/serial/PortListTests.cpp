#include "serial/CommInt.h"
#include "serial/PortList.h"

#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

namespace {

// A machine of our own making: /dev, /sys, /proc and the folder of comN links under one folder.
struct FakeMachine
{
    QTemporaryDir top;
    PortRoots roots;

    FakeMachine()
    {
        roots.dev = top.path() + QStringLiteral("/dev");
        roots.sys = top.path() + QStringLiteral("/sys");
        roots.proc = top.path() + QStringLiteral("/proc");
        roots.links = top.path() + QStringLiteral("/links");
        for (const QString& folder : { roots.dev, roots.sys, roots.proc, roots.links })
            QDir().mkpath(folder);
    }
    void file(const QString& path, const QByteArray& text = QByteArray())
    {
        QDir().mkpath(QFileInfo(top.path() + '/' + path).path());
        QFile f(top.path() + '/' + path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    void link(const QString& target, const QString& path)
    {
        QDir().mkpath(QFileInfo(top.path() + '/' + path).path());
        ASSERT_TRUE(QFile::link(target, top.path() + '/' + path));
    }
    // A USB device in sysfs with one tty behind its first interface.
    void usb(const QString& device, const QString& tty, const QByteArray& maker, const QByteArray& product)
    {
        const QString dir = QStringLiteral("sys/devices/pci0/usb1/") + device;
        file(dir + QStringLiteral("/idVendor"), "0403\n");
        file(dir + QStringLiteral("/idProduct"), "6001\n");
        if (!maker.isNull())
            file(dir + QStringLiteral("/manufacturer"), maker);
        file(dir + QStringLiteral("/product"), product);
        QDir().mkpath(top.path() + '/' + dir + '/' + device + QStringLiteral(":1.0/") + tty);
        link(top.path() + '/' + dir + '/' + device + QStringLiteral(":1.0/") + tty,
             QStringLiteral("sys/class/tty/") + tty + QStringLiteral("/device"));
    }
};

std::string shown(const QList<PortOffer>& offers)
{
    QStringList lines;
    for (const PortOffer& o : offers)
        lines << o.name + QStringLiteral(" | ") + o.description;
    return lines.join('\n').toStdString();
}

} // namespace

TEST(PortList, OffersLinksAdaptersAndRealUartsInThatOrderWithMakerAndProduct)
{
    FakeMachine m;
    const QString dev = m.roots.dev;
    for (const char* node : { "ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS3", "tty", "ttyUSBx",
                              "console" })
        m.file(QStringLiteral("dev/") + QLatin1String(node));
    m.usb(QStringLiteral("1-1"), QStringLiteral("ttyUSB0"), "FTDI\n", "FT232R USB UART\n");
    // No maker, and a control character in the product: it must not reach the screen.
    m.usb(QStringLiteral("1-2"), QStringLiteral("ttyACM0"), QByteArray(), "Arduino\x01 Uno\n");
    m.link(QStringLiteral("../../ttyUSB0"), QStringLiteral("dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
    m.file(QStringLiteral("sys/class/tty/ttyS0/type"), "4\n");
    m.file(QStringLiteral("sys/class/tty/ttyS1/type"), "0\n"); // no UART behind it
    m.file(QStringLiteral("sys/class/tty/ttyS3/type"), "4\n");
    m.link(dev + QStringLiteral("/ttyUSB0"), QStringLiteral("links/com1"));
    m.link(QStringLiteral("/nonexistent/pts/9"), QStringLiteral("links/com7"));
    m.link(dev + QStringLiteral("/ttyS0"), QStringLiteral("links/printer"));

    EXPECT_EQ(shown(listSerialPorts(m.roots)),
              (QStringList {
                  QStringLiteral("Com1 | → ") + dev + QStringLiteral("/ttyUSB0, FTDI FT232R USB UART"),
                  QStringLiteral("Com7 | → /nonexistent/pts/9 (assente)"),
                  dev + QStringLiteral("/serial/by-id/usb-FTDI_FT232R_A1-if00-port0 | FTDI FT232R USB UART"),
                  dev + QStringLiteral("/ttyUSB0 | FTDI FT232R USB UART"),
                  dev + QStringLiteral("/ttyUSB2 | "),
                  dev + QStringLiteral("/ttyUSB10 | "),
                  dev + QStringLiteral("/ttyACM0 | Arduino Uno"),
                  // Com1 is the link, so ttyS0 is offered by its path.
                  dev + QStringLiteral("/ttyS0 | porta seriale"),
                  QStringLiteral("Com4 | ") + dev + QStringLiteral("/ttyS3, porta seriale"),
              }).join('\n').toStdString());

    // A missing device names the ports that are there (a dangling link is not one of them).
    const QString present = QStringLiteral(" Porte presenti: Com1, %1/serial/by-id/usb-FTDI_FT232R_A1-if00-port0, "
                                           "%1/ttyUSB0, %1/ttyUSB2, %1/ttyUSB10, %1/ttyACM0, ….").arg(dev);
    EXPECT_EQ(portOpenHint(dev + QStringLiteral("/ttyUSB5"), ENOENT, m.roots).toStdString(),
              (dev + QStringLiteral("/ttyUSB5 non c'è.") + present).toStdString());
    // "Com9" leads to ttyS8, which the message names; "Com1" is a link here, so ttyS0 is not it.
    EXPECT_EQ(portOpenHint(dev + QStringLiteral("/ttyS8"), ENOENT, m.roots).toStdString(),
              (QStringLiteral("Com9 è ") + dev + QStringLiteral("/ttyS8, che non c'è.") + present).toStdString());
    EXPECT_EQ(portOpenHint(dev + QStringLiteral("/ttyS0"), EIO, m.roots).toStdString(),
              (dev + QStringLiteral("/ttyS0 non ha una porta seriale dietro.") + present).toStdString());
    EXPECT_EQ(portOpenHint(m.roots.links + QStringLiteral("/com7"), ENOENT, m.roots).toStdString(),
              (QStringLiteral("Il collegamento %1/com7 porta a /nonexistent/pts/9, che non c'è.").arg(m.roots.links) + present)
                  .toStdString());

    FakeMachine empty;
    EXPECT_EQ(portOpenHint(QStringLiteral("/dev/ttyS1"), EIO, empty.roots).toStdString(),
              "/dev/ttyS1 non ha una porta seriale dietro. Nessuna porta seriale trovata: collega l'adattatore e riprova.");
    EXPECT_TRUE(listSerialPorts(empty.roots).isEmpty());
}

TEST(PortList, PermissionHintWhenTheSessionPredatesTheGroupOrTheGroupHasNoAccess)
{
    // Any user may give a file of theirs to their own group; root's own group is not one a
    // device is shared through, so root takes dialout.
    QTemporaryDir dir;
    const QString node = dir.path() + QStringLiteral("/ttyUSB0");
    QFile(node).open(QIODevice::WriteOnly);
    const gid_t owners = ::getuid() == 0 ? 20 : ::getegid();
    ASSERT_EQ(::chown(QFile::encodeName(node).constData(), ::getuid(), owners), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0660), 0);
    const QString group = QString::fromLocal8Bit(::getgrgid(owners)->gr_name);
    const QString owner = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);

    const gid_t own = owners + 1;
    PortUser stranger { QStringLiteral("mario"), 4242, { own }, { own } };
    EXPECT_EQ(portOpenHint(node, EACCES, PortRoots(), stranger),
              node + QStringLiteral(" appartiene al gruppo \"") + group + QStringLiteral("\": per usarlo entra nel gruppo con "
                                                                                      "\"sudo usermod -aG ") + group
                  + QStringLiteral(" mario\", poi esci e rientra nella sessione."));
    // Already added to the group, but this session started before that.
    PortUser added { QStringLiteral("mario"), 4242, { own }, { own, owners } };
    EXPECT_TRUE(portOpenHint(node, EACCES, PortRoots(), added)
                    .startsWith(QStringLiteral("mario è già nel gruppo \"") + group + QStringLiteral("\" che possiede ")));

    // Joining a group does not help when the group may not use the device.
    ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0600), 0);
    EXPECT_EQ(portOpenHint(node, EPERM, PortRoots(), stranger),
              node + QStringLiteral(" (utente ") + owner + QStringLiteral(", gruppo ") + group
                  + QStringLiteral(", permessi 0600) non si apre per mario: chiedi all'amministratore il permesso di lettura e scrittura."));
}

// A device node that the user is not allowed to open, opened by another user: the error the
// port raises carries the device, and the hint for it tells that user to join the group.
TEST(PortList, PortThatRefusesAnotherUserCarriesTheDeviceForTheHint)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    struct stat slave {};
    ASSERT_EQ(::stat(QFile::encodeName(pty.path).constData(), &slave), 0);
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString node = dir.path() + QStringLiteral("/ttyUSB0");
    const gid_t dialout = 20;
    if (::getuid() != 0) {
        // Without root: our own pseudo-terminal, shut to its owner and left to its group, is
        // refused the same way. The hint sends us to that group, or (where the terminals get
        // our own group) to the administrator.
        const QString group = QString::fromLocal8Bit(::getgrgid(slave.st_gid)->gr_name);
        const QString me = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);
        const QString hint = PortUser::current().sessionGroups.contains(slave.st_gid)
            ? QStringLiteral(" (utente %2, gruppo %1, permessi 0060) non si apre per %2: chiedi all'amministratore il "
                             "permesso di lettura e scrittura.")
            : QStringLiteral(" appartiene al gruppo \"%1\": per usarlo entra nel gruppo con \"sudo usermod -aG %1 %2\", "
                             "poi esci e rientra nella sessione.");
        ASSERT_EQ(::chmod(QFile::encodeName(pty.path).constData(), 0060), 0);
        TComm port;
        port.setDeviceName(pty.path);
        try {
            port.Open();
            FAIL() << "opened a device its owner may not open";
        } catch (const ECommError& e) {
            EXPECT_EQ(e.ErrorCode(), EACCES);
            EXPECT_EQ(e.Device(), pty.path);
            EXPECT_EQ(portOpenHint(e.Device(), e.ErrorCode()).toStdString(),
                      (pty.path + hint.arg(group, me)).toStdString());
        }
        return;
    }
    ASSERT_EQ(::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0660, slave.st_rdev), 0);
    ASSERT_EQ(::chown(QFile::encodeName(node).constData(), 0, dialout), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0660), 0);

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        QByteArray report = "opened";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            TComm port;
            port.setDeviceName(node);
            try {
                port.Open();
            } catch (const ECommError& e) {
                report = QByteArray::number(e.ErrorCode()) + '\n' + e.Device().toLocal8Bit() + '\n'
                    + portOpenHint(e.Device(), e.ErrorCode()).toUtf8();
            }
        } else {
            report = "could not become another user";
        }
        (void)!::write(pipe[1], report.constData(), static_cast<size_t>(report.size()));
        ::_exit(0);
    }
    ::close(pipe[1]);
    QByteArray got;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);

    const QStringList lines = QString::fromUtf8(got).split('\n');
    ASSERT_EQ(lines.size(), 3) << got.toStdString();
    EXPECT_EQ(lines[0].toInt(), EACCES);
    EXPECT_EQ(lines[1], node);
    const QString group = QString::fromLocal8Bit(::getgrgid(dialout)->gr_name);
    EXPECT_EQ(lines[2].toStdString(), (node + QStringLiteral(" appartiene al gruppo \"%1\": per usarlo entra nel gruppo con "
                                                             "\"sudo usermod -aG %1 nobody\", poi esci e rientra nella sessione.")
                                                  .arg(group)).toStdString());
}

TEST(PortList, MissingAndBusyPortsAreExplained)
{
    TComm port;
    port.setDeviceName(QStringLiteral("/dev/pradix-no-such-port"));
    try {
        port.Open();
        FAIL() << "opened a port that does not exist";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Device(), QStringLiteral("/dev/pradix-no-such-port"));
        EXPECT_TRUE(portOpenHint(e.Device(), e.ErrorCode()).startsWith(QStringLiteral("/dev/pradix-no-such-port non c'è. ")));
    }

    // Another program holds the line; /proc tells which.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // Started by hand rather than through the toolkit's process class, whose way of starting a
    // child the thread checker cannot follow. Its own process group, so that the lock's last
    // holder (the shell it starts) goes with it.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const QByteArray device = QFile::encodeName(pty.path);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::setpgid(0, 0);
        ::dup2(pipe[1], STDOUT_FILENO);
        ::execlp("flock", "flock", device.constData(), "sh", "-c", "echo held; exec sleep 60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe[1]);
    char held[5] = {};
    const ssize_t got = ::read(pipe[0], held, 4);
    ::close(pipe[0]);
    ASSERT_EQ(QByteArray(held, got > 0 ? int(got) : 0), QByteArray("held"));
    port.setDeviceName(pty.path);
    try {
        port.Open();
        FAIL() << "opened a port another program holds";
    } catch (const ECommError& e) {
        EXPECT_TRUE(e.ErrorCode() == EWOULDBLOCK || e.ErrorCode() == EBUSY) << e.ErrorCode();
        const QString hint = portOpenHint(e.Device(), e.ErrorCode());
        EXPECT_TRUE(hint.startsWith(pty.path + QStringLiteral(" è già aperto da un altro programma, "))) << hint.toStdString();
        EXPECT_TRUE(hint.contains(QStringLiteral("flock (pid %1)").arg(holder))) << hint.toStdString();
        EXPECT_TRUE(hint.endsWith(QStringLiteral(": chiudilo e riprova."))) << hint.toStdString();
    }
    ::kill(-holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);
}
