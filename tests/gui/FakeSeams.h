#pragma once

#include "app/Program.h"
#include "widgets/ALed.h"
#include "widgets/Seams.h"
#include "tests/gui/Controls.h"

#include <QByteArray>
#include <QDir>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// Recording stand-ins for the desktop and the clock.
class FakeDialogs : public Dialogs
{
public:
    void information(QWidget* parent, const QString& text) override
    {
        shown << text;
        informationParents << parent;
    }
    bool question(QWidget*, const QString& text) override
    {
        shown << text;
        return answerYes;
    }
    void error(QWidget*, const QString& text) override { errors << text; }
    QString openFileName(QWidget*, const QString& filter, const QString& suffix) override
    {
        filters << filter;
        suffixes << suffix;
        return nextOpen;
    }
    QString saveFileName(QWidget*, const QString& filter, const QString& suffix) override
    {
        filters << filter;
        suffixes << suffix;
        return nextSave;
    }

    QStringList shown;
    QList<QWidget*> informationParents;
    QStringList errors;
    QStringList filters;
    QStringList suffixes;
    bool answerYes = true;
    QString nextOpen;
    QString nextSave;
};

// One entry of a transfer's record, in order: a pause, or bytes that went
// out on the line before the next pause.
struct PaceEvent
{
    int pauseMs = -1;
    QByteArray sent;

    bool isPause() const { return pauseMs >= 0; }
    bool operator==(const PaceEvent& other) const { return pauseMs == other.pauseMs && sent == other.sent; }
};

// Records the pauses instead of sleeping, in one log with the bytes a test
// says went out. onSleep runs at each pause before it is logged, so a test
// can put there what the far end received since the last pause (as the
// simulator logged it, or as read from the line): the log then reads
// "request, 45 ms, header, 55 ms, ...", and a pause with nothing before it
// means nothing was sent before it.
class FakePacer : public Pacer
{
public:
    void sleep(int ms) override
    {
        if (onSleep)
            onSleep(ms);
        log.push_back({ ms, {} });
    }
    // Bytes that went out since the last entry; nothing is logged for none.
    void recordSent(const QByteArray& bytes)
    {
        if (!bytes.isEmpty())
            log.push_back({ -1, bytes });
    }

    // The pauses alone, in order.
    std::vector<int> waits() const
    {
        std::vector<int> pauses;
        for (const PaceEvent& e : log)
            if (e.isPause())
                pauses.push_back(e.pauseMs);
        return pauses;
    }

    // The log as text, "sent 02 01 05, pause 45, ...", for readable failures.
    std::string describe() const
    {
        std::string text;
        for (const PaceEvent& e : log) {
            if (!text.empty())
                text += ", ";
            text += e.isPause() ? "pause " + std::to_string(e.pauseMs) : "sent " + e.sent.toHex(' ').toStdString();
        }
        return text;
    }

    std::vector<PaceEvent> log;
    std::function<void(int ms)> onSleep;
};

class FakeBeeper : public Beeper
{
public:
    void beep() override { ++beeps; }
    int beeps = 0;
};

class FakeClock : public Clock
{
public:
    ClockReading now() const override { return reading; }
    ClockReading reading { 0, 7, 7 };
};

// The program works in the folder it was started in (the address book lives
// there): each test gets a fresh one, and the one before is put back after.
class ScratchFolder
{
public:
    ScratchFolder()
        : previous_(QDir::currentPath())
    {
        if (folder_.isValid())
            QDir::setCurrent(folder_.path());
    }
    ~ScratchFolder() { QDir::setCurrent(previous_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool ok() const { return folder_.isValid() && QDir::currentPath() == QDir(folder_.path()).canonicalPath(); }
    QString path() const { return folder_.path(); }
    QString file(const QString& name) const { return folder_.filePath(name); }

private:
    QString previous_;
    QTemporaryDir folder_;
};

// The program's two windows, built by the program's own start-up on fake
// seams (the dialogs a test chooses) in a folder of their own, and their
// controls found by name.
template <typename DialogsType>
struct BasicFixture
{
    Seams seams() { return { &dialogs, &pacer, &beeper, &clock }; }

    ScratchFolder folder;

    DialogsType dialogs;
    FakePacer pacer;
    FakeBeeper beeper;
    FakeClock clock;
    Program program { seams() };
    TfrmMain& window = program.frmMain;
    TForm2& form2 = program.form2;
    const MainControls ui { window };
    const BookControls book { form2 };

    // The link at rest: the port closed and the LED green.
    bool idle() const { return !window.exchange().port().Enabled() && ui.ALed1->FalseColor() == clGreen; }
    bool waitIdle() const { return QTest::qWaitFor([&] { return idle(); }, 30000); }
    // "Leggi Eeprom" as the operator clicks it, up to the decoded table.
    void read()
    {
        QTest::mouseClick(ui.ButtonTransmit, Qt::LeftButton);
        ASSERT_TRUE(waitIdle());
    }
};
using Fixture = BasicFixture<FakeDialogs>;
