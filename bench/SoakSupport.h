#pragma once

// What the local and the remote soak share: the seams that keep the windows
// from pausing or asking, a simulator per cycle, the process's own counts,
// and the data cells of a table to compare.

#include "bench/BenchSupport.h"
#include "device/Codec.h"
#include "device/Pacer.h"
#include "device/TableGrid.h"
#include "app/formMain.h"
#include "device/ReceiveBuffer.h"
#include "widgets/ALed.h"
#include "widgets/Seams.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace soak {

class SoakDialogs : public Dialogs
{
public:
    void information(QWidget*, const QString& text) override { show(text); }
    bool question(QWidget*, const QString& text) override
    {
        show(text);
        return true;
    }
    void error(QWidget*, const QString& text) override { show(text); }
    QString openFileName(QWidget*, const QString&, const QString&) override { return QString(); }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return QString(); }

    // Only the count and the last message are kept, so the soak itself does not grow.
    int count = 0;
    QString last;

private:
    void show(const QString& text)
    {
        ++count;
        last = text;
    }
};

// Pacing off: the simulator sends at once, the window does not pause. A
// soak may instead wait at each pause for what it needs (the line drained).
class NoPacer : public Pacer
{
public:
    void sleep(int) override
    {
        if (onSleep)
            onSleep();
    }
    std::function<void()> onSleep;
};

class SilentBeeper : public Beeper
{
public:
    void beep() override {}
};

inline int entries(const char* folder)
{
    return int(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

inline long rssKb()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline long heapKb()
{
    return long(mallinfo2().uordblks / 1024);
}

// The simulator as a child process on a pseudo-terminal of its own.
class Sim
{
public:
    bool start(QStringList arguments)
    {
        arguments << QStringLiteral("--log") << log_.filePath(QStringLiteral("box.log"));
        path_ = bench::startSimulator(process_, arguments);
        return !path_.isEmpty();
    }
    // What the simulator logged, for a cycle that went wrong.
    QByteArray log() const
    {
        QFile file(log_.filePath(QStringLiteral("box.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }
    ~Sim() { stop(); }
    const QString& path() const { return path_; }
    QString logPath() const { return log_.filePath(QStringLiteral("box.log")); }

private:
    QTemporaryDir log_;
    QProcess process_;
    QString path_;
};

// The image the simulator serves, read straight off its line, so the window's
// reads are checked against the box and not against themselves.
inline QByteArray fetchImage(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const unsigned char request[] = { 0x02, 0x01, 0x01 };
    QByteArray image;
    if (::write(fd, request, sizeof request) == ssize_t(sizeof request)) {
        char chunk[4096];
        pollfd p { fd, POLLIN, 0 };
        while (image.size() < codec::ImageSize && ::poll(&p, 1, 10000) > 0) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            image.append(chunk, int(n));
        }
    }
    ::close(fd);
    return image.size() == codec::ImageSize ? image : QByteArray();
}

// The grid a whole image gives, decoded as a completed read decodes it.
inline TableGrid gridOf(const QByteArray& image)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.constData());
    const codec::Model model = codec::modelOfByte(bytes[0]);
    TableGrid grid;
    grid.fillData(QString());
    codec::decodeHeader(bytes, model, grid);
    for (int r = 2; r < TableGrid::RowCount; ++r)
        codec::decodeRecord(bytes + codec::RecordSize * (r - 1), model, grid, r);
    return grid;
}

inline QStringList cellsOf(const TableGrid& grid)
{
    QStringList cells;
    for (int r = 1; r < TableGrid::RowCount; ++r)
        for (int c = 1; c < TableGrid::ColumnCount; ++c)
            cells << grid.cell(c, r);
    return cells;
}

// The data cells the image gives; none for no image.
inline QStringList cellsOf(const QByteArray& image)
{
    return image.size() == codec::ImageSize ? cellsOf(gridOf(image)) : QStringList();
}

// Waits for a tool started as a script starts it: its exit code, or -1 (and
// why in `error`) when it did not end within limitMs or ended by a signal;
// `error` gets what it said on standard error.
inline int finishTool(QProcess& process, int limitMs, std::string& error)
{
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished(5000);
        error = "it did not end";
        return -1;
    }
    error = process.readAllStandardError().trimmed().toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The simulator's fault for a table cut short after a byte count picked at
// random, and for garbage before it; the count goes to n.
inline QStringList stopFault(std::mt19937& rng, int& n)
{
    n = 1 + int(rng() % (codec::ImageSize - 1));
    return { QStringLiteral("--fault"), QStringLiteral("stop:%1").arg(n) };
}
inline QStringList garbageFault(std::mt19937& rng, int& n)
{
    n = 1 + int(rng() % codec::ImageSize);
    return { QStringLiteral("--fault"), QStringLiteral("garbage:%1").arg(n) };
}

// Where the receive position rests once n garbage bytes and then the table
// have arrived: the accumulation fills and starts over with the table's tail,
// which is no table (the simulator's garbage never holds a table's first
// byte, and less than a whole buffer of it never lines the table up with a
// new start).
inline int garbageEnd(int n)
{
    const int total = n + codec::ImageSize;
    return total <= ReceiveBuffer::Size ? total : (total - 1) % ReceiveBuffer::Size + 1;
}

// What both soaks do on the main window: tell it idle, and press "Stop" on a
// read still waiting.
class MainWindowDriver
{
public:
    explicit MainWindowDriver(TfrmMain& window)
        : window_(window)
        , Button1_(window.findChild<QPushButton*>(QStringLiteral("Button1")))
        , ALed1_(dynamic_cast<TALed*>(window.findChild<QWidget*>(QStringLiteral("ALed1"))))
    {
    }

    bool idle() { return !window_.exchange().port().Enabled() && ALed1_->FalseColor() == clGreen; }

protected:
    bool driverReady() const { return Button1_ && ALed1_; }
    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    bool waitIdle() { return QTest::qWaitFor([&] { return idle(); }, 30000); }

    // "Stop" on a read still waiting: the window idle, the grid as it was.
    std::string stopWaiting(const QStringList& before)
    {
        if (!window_.exchange().port().Enabled())
            return "the read ended without a table";
        click(Button1_);
        if (!idle())
            return "\"Stop\" did not end the wait";
        if (cellsOf(window_.grid()) != before)
            return "a stopped read changed the grid";
        return std::string();
    }

    TfrmMain& window_;
    QPushButton* Button1_;
    TALed* ALed1_;
};

} // namespace soak
