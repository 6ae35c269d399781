#pragma once

#include "device/LineObserver.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// The line log: what went over the serial line, for support. Every byte the
// port wrote or read, with the local time to the millisecond, the direction,
// and the operator's action that started the exchange:
//
//   2026-12-07 14:03:22.410 -- avvio pradix 1.0.0 (pid 4242)
//   2026-12-07 14:03:22.417 == Leggi Eeprom
//   2026-12-07 14:03:22.418 -- aperta Com2 (/dev/ttyS1)
//   2026-12-07 14:03:22.419 > 02 01 01
//   2026-12-07 14:03:22.498 < 55 0C 01 0C 0A 04 06 01
//   2026-12-07 14:03:24.700 -- chiusa
//
// One line per piece written ('>') and per chunk read ('<'), as the port
// handled them; a piece the line did not take in time ends in "!!". The file
// is $XDG_STATE_HOME/pradix/line.log (default ~/.local/state/pradix/),
// created for the user alone (0600, its folders 0700; a file or folder that
// exists keeps its mode; only a plain file is written, never through a link).
// At 1 MB it becomes line.log.1, the older ones move up to line.log.4, and the
// oldest is dropped: five files in all. Programs sharing the log rotate it
// under a lock on its folder, one at a time.
//
// It never delays an exchange: the observer calls take a time stamp and copy
// the bytes into a queue; a thread of its own formats and writes them. A log
// that cannot be written (folder refused, disk full) drops its lines and
// tries again at the next action; the exchange never hears of it. The first
// failure is told once through failed().
struct LineLogLimits
{
    // A file that would grow past this is rotated first; 0 never rotates.
    std::int64_t rotateBytes = 1024 * 1024;
    // The current file and the rotated ones (line.log.1 ...), in all.
    int files = 5;
};

class LineLog : public QObject, public LineObserver
{
    Q_OBJECT

public:
    using Limits = LineLogLimits;

    // $XDG_STATE_HOME/pradix/line.log (an absolute XDG_STATE_HOME only), else
    // ~/.local/state/pradix/line.log.
    static QString defaultPath();

    explicit LineLog(const QString& path = defaultPath(), Limits limits = {}, QObject* parent = nullptr);
    // What was handed over is written before the log's thread ends.
    ~LineLog() override;
    LineLog(const LineLog&) = delete;
    LineLog& operator=(const LineLog&) = delete;

    QString path() const { return path_; }

    // --- LineObserver: cheap, never blocking on the file
    void action(const QString& what) override;
    void opened(const QString& deviceName) override;
    void openFailed(const QString& deviceName, const QString& message) override;
    void closed() override;
    void written(const std::uint8_t* bytes, int count, int result) override;
    void read(const std::uint8_t* bytes, int count) override;

    // Waits until everything handed over so far is in the file or has failed
    // to get there (for a command-line program before it exits, and tests).
    void flush();
    // The first failure to write the log, empty while there was none.
    QString failure() const;

signals:
    // Emitted once, on the log's thread, the first time the log could not be
    // written (a receiver in another thread gets it queued): `message` says
    // the file or folder and the system's reason.
    void failed(const QString& message);

private:
    enum class Kind : std::uint8_t { Action, Opened, OpenFailed, Closed, Written, Read };
    struct Entry
    {
        std::int64_t msecs = 0;
        Kind kind = Kind::Action;
        int result = 0;
        int omitted = 0; // bytes beyond what one entry keeps
        QByteArray bytes;
        QString text;
    };

    void enqueue(Entry&& entry);
    void run();
    // The batch's lines, after the start line and the count of `lost` entries
    // when there is one.
    QByteArray format(const std::vector<Entry>& batch, int lost);
    // Appends `text` to the file, rotating first when it would grow too
    // large; false with `why` when the file could not be written.
    bool append(const QByteArray& text, QString& why);
    bool openFile(QString& why);
    void closeFile();
    bool rotate(QString& why);
    bool moveFilesUp(QString& why);
    void reportFailure(const QString& why);

    const QString path_;
    const Limits limits_;

    // Shared with the log's thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<Entry> queue_;
    std::size_t queuedBytes_ = 0;
    int dropped_ = 0;
    std::uint64_t handedOver_ = 0;
    std::uint64_t finished_ = 0;
    bool stopping_ = false;
    QString failure_;
    std::thread writer_;

    // The log's thread only.
    int fd_ = -1;
    std::int64_t size_ = 0;
    bool started_ = false;
    bool broken_ = false;
    // Entries dropped since the last line that reached the file.
    int lost_ = 0;
};
