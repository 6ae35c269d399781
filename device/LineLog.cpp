#include "device/LineLog.h"

#include "device/PrivateFolder.h"
#include "serial/CommInt.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One entry keeps at most this many bytes: a read chunk is a few thousand at
// most, and nothing an observer is handed can make a line without bound.
constexpr int MaxEntryBytes = 64 * 1024;
// What may wait for the log's thread before entries are dropped (and
// counted): a file that blocks must not make the program grow.
constexpr std::size_t MaxQueuedBytes = 4 * 1024 * 1024;
// Texts from outside (an action, a port name, a port's message) are cut here.
constexpr int MaxTextChars = 500;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// One line of text: a message or a port name with a line break in it must
// not start a line of its own that reads like an entry.
QString oneLine(const QString& text)
{
    QString line = text.left(MaxTextChars).trimmed();
    for (QChar& c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    return line;
}

void appendHex(QByteArray& out, const QByteArray& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
}

} // namespace

QString LineLog::defaultPath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/pradix/line.log");
}

LineLog::LineLog(const QString& path, Limits limits, QObject* parent)
    : QObject(parent)
    , path_(path)
    , limits_(limits)
{
}

LineLog::~LineLog()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable())
        writer_.join();
    closeFile();
}

void LineLog::action(const QString& what)
{
    Entry entry;
    entry.kind = Kind::Action;
    entry.text = what;
    enqueue(std::move(entry));
}

void LineLog::opened(const QString& deviceName)
{
    Entry entry;
    entry.kind = Kind::Opened;
    entry.text = deviceName;
    enqueue(std::move(entry));
}

void LineLog::openFailed(const QString& deviceName, const QString& message)
{
    Entry entry;
    entry.kind = Kind::OpenFailed;
    entry.text = deviceName;
    entry.bytes = message.left(MaxTextChars).toUtf8();
    enqueue(std::move(entry));
}

void LineLog::closed()
{
    Entry entry;
    entry.kind = Kind::Closed;
    enqueue(std::move(entry));
}

void LineLog::written(const std::uint8_t* bytes, int count, int result)
{
    Entry entry;
    entry.kind = Kind::Written;
    entry.result = result;
    const int kept = std::clamp(count, 0, MaxEntryBytes);
    entry.omitted = std::max(count, 0) - kept;
    entry.bytes = QByteArray(reinterpret_cast<const char*>(bytes), bytes ? kept : 0);
    enqueue(std::move(entry));
}

void LineLog::read(const std::uint8_t* bytes, int count)
{
    if (count <= 0 || !bytes)
        return;
    Entry entry;
    entry.kind = Kind::Read;
    const int kept = std::min(count, MaxEntryBytes);
    entry.omitted = count - kept;
    entry.bytes = QByteArray(reinterpret_cast<const char*>(bytes), kept);
    enqueue(std::move(entry));
}

void LineLog::enqueue(Entry&& entry)
{
    entry.msecs = QDateTime::currentMSecsSinceEpoch();
    const std::size_t size = std::size_t(entry.bytes.size()) + std::size_t(entry.text.size()) * 2;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++handedOver_;
        if (queuedBytes_ + size > MaxQueuedBytes) {
            ++dropped_;
            ++finished_;
            return;
        }
        queuedBytes_ += size;
        queue_.push_back(std::move(entry));
        // The thread starts with the first entry: a window that never talks
        // to a box costs no thread and no file.
        if (!writer_.joinable())
            writer_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

void LineLog::flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t target = handedOver_;
    done_.wait(lock, [&] { return finished_ >= target || !writer_.joinable(); });
}

QString LineLog::failure() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void LineLog::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            break;
        std::vector<Entry> batch;
        batch.swap(queue_);
        queuedBytes_ = 0;
        lost_ += std::exchange(dropped_, 0);
        lock.unlock();

        // A log that failed stays quiet until the operator's next action, so
        // a refused folder is not tried again for every chunk of a read.
        const bool retry = std::any_of(batch.begin(), batch.end(), [](const Entry& e) { return e.kind == Kind::Action; });
        if (!broken_ || retry) {
            QString why;
            broken_ = !append(format(batch, lost_), why);
            if (broken_) {
                closeFile();
                reportFailure(why);
            } else {
                lost_ = 0;
            }
        }
        if (broken_)
            lost_ += int(batch.size());

        lock.lock();
        finished_ += batch.size();
        done_.notify_all();
    }
}

QByteArray LineLog::format(const std::vector<Entry>& batch, int lost)
{
    QByteArray out;
    const auto stamp = [&out](std::int64_t msecs) {
        out += QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
        out += ' ';
    };
    if (!started_ && !batch.empty()) {
        stamp(batch.front().msecs);
        QString program = QCoreApplication::applicationName();
        if (!QCoreApplication::applicationVersion().isEmpty())
            program += QLatin1Char(' ') + QCoreApplication::applicationVersion();
        out += QStringLiteral("-- avvio %1 (pid %2)\n").arg(oneLine(program)).arg(::getpid()).toUtf8();
    }
    if (lost > 0 && !batch.empty()) {
        stamp(batch.front().msecs);
        out += QStringLiteral("-- %1 voci non registrate (registro in ritardo o non scrivibile)\n").arg(lost).toUtf8();
    }
    for (const Entry& e : batch) {
        stamp(e.msecs);
        switch (e.kind) {
        case Kind::Action:
            out += "== " + oneLine(e.text).toUtf8();
            break;
        case Kind::Opened: {
            // The name typed, the device it stands for and, behind a link
            // ("Com1", /dev/serial/by-id/...), the adapter's own device.
            out += "-- aperta " + oneLine(e.text).toUtf8();
            const QString device = resolvePortName(e.text);
            const QString target = QFileInfo(device).canonicalFilePath();
            QString where = device == e.text.trimmed() ? QString() : device;
            if (!target.isEmpty() && target != device)
                where += (where.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("-> ") + target;
            if (!where.isEmpty())
                out += " (" + oneLine(where).toUtf8() + ')';
            break;
        }
        case Kind::OpenFailed:
            out += "-- non aperta " + oneLine(e.text).toUtf8() + ": " + oneLine(QString::fromUtf8(e.bytes)).toUtf8();
            break;
        case Kind::Closed:
            out += "-- chiusa";
            break;
        case Kind::Written:
            out += '>';
            if (!e.bytes.isEmpty())
                out += ' ';
            appendHex(out, e.bytes);
            if (e.omitted > 0)
                out += QStringLiteral(" (e altri %1 byte)").arg(e.omitted).toUtf8();
            if (e.result == -1)
                out += " !! non presi dalla linea in tempo (-1)";
            else if (e.result != e.bytes.size() + e.omitted)
                out += QStringLiteral(" !! presi %1").arg(e.result).toUtf8();
            break;
        case Kind::Read:
            out += "< ";
            appendHex(out, e.bytes);
            if (e.omitted > 0)
                out += QStringLiteral(" (e altri %1 byte)").arg(e.omitted).toUtf8();
            break;
        }
        out += '\n';
    }
    return out;
}

bool LineLog::append(const QByteArray& text, QString& why)
{
    // Someone else (another Pradix, the operator) rotated or removed the
    // file: go on in a file under the log's name.
    if (fd_ >= 0) {
        struct stat named {};
        struct stat ours {};
        if (::stat(QFile::encodeName(path_).constData(), &named) != 0 || ::fstat(fd_, &ours) != 0
            || named.st_ino != ours.st_ino || named.st_dev != ours.st_dev)
            closeFile();
    }
    if (fd_ < 0 && !openFile(why))
        return false;
    if (limits_.rotateBytes > 0 && size_ > 0 && size_ + text.size() > limits_.rotateBytes) {
        if (!rotate(why))
            return false;
    }
    const char* data = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = QStringLiteral("%1: %2").arg(path_, errnoText(n < 0 ? errno : ENOSPC));
            return false;
        }
        data += n;
        left -= n;
        size_ += n;
    }
    started_ = true;
    return true;
}

bool LineLog::openFile(QString& why)
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!makePrivateFolder(folder)) {
        why = QStringLiteral("%1: %2").arg(folder, errnoText(errno));
        return false;
    }
    // Only a plain file under the log's own name: a link is not followed, and
    // a pipe (which would hold the thread until a reader came) or a device is refused.
    fd_ = ::open(QFile::encodeName(path_).constData(),
                 O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = fd_ < 0 ? errno : EINVAL;
        why = fd_ >= 0 || error == ELOOP || error == ENXIO ? QStringLiteral("%1: non è un file").arg(path_)
                                         : QStringLiteral("%1: %2").arg(path_, errnoText(error));
        closeFile();
        return false;
    }
    size_ = st.st_size;
    return true;
}

void LineLog::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool LineLog::rotate(QString& why)
{
    // Two programs may find the file full at once: one rotates, under a lock
    // on the folder, and the other then finds a new file under the name and
    // goes on in it, rather than moving every file up once more and dropping
    // the oldest early.
    const int folder = ::open(QFile::encodeName(QFileInfo(path_).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
        while (::flock(folder, LOCK_EX) != 0 && errno == EINTR) {
        }
    struct stat named {};
    struct stat ours {};
    const bool stillOurs = ::stat(QFile::encodeName(path_).constData(), &named) == 0 && ::fstat(fd_, &ours) == 0
        && named.st_ino == ours.st_ino && named.st_dev == ours.st_dev;
    closeFile();
    const bool rotated = !stillOurs || moveFilesUp(why);
    const bool opened = rotated && openFile(why);
    if (folder >= 0)
        ::close(folder); // lets the lock go
    return opened;
}

bool LineLog::moveFilesUp(QString& why)
{
    const auto name = [this](int n) { return QFile::encodeName(n == 0 ? path_ : path_ + QStringLiteral(".%1").arg(n)); };
    // line.log.3 -> .4, ... line.log -> .1: the last rename drops the oldest.
    for (int n = std::max(limits_.files, 1) - 1; n >= 1; --n) {
        if (::rename(name(n - 1).constData(), name(n).constData()) != 0 && errno != ENOENT) {
            why = QStringLiteral("%1: %2").arg(QFile::decodeName(name(n - 1)), errnoText(errno));
            return false;
        }
    }
    // Keeping a single file means starting it again.
    if (limits_.files <= 1 && ::unlink(name(0).constData()) != 0 && errno != ENOENT) {
        why = QStringLiteral("%1: %2").arg(path_, errnoText(errno));
        return false;
    }
    return true;
}

void LineLog::reportFailure(const QString& why)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_.isEmpty())
            return;
        failure_ = why;
    }
    emit failed(why);
}
