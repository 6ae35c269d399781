#pragma once

#include "app/Application.h"
#include "app/formMain.h"
#include "book/Unit2.h"
#include "device/Seams.h"

#include <QStringList>

#include <memory>
#include <vector>

// Recording stand-ins for the desktop and the clock.
class FakeDialogs : public Dialogs
{
public:
    void information(QWidget*, const QString& text) override { shown << text; }
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
    QStringList errors;
    QStringList filters;
    QStringList suffixes;
    bool answerYes = true;
    QString nextOpen;
    QString nextSave;
};

class FakePacer : public Pacer
{
public:
    void sleep(int ms) override { waits.push_back(ms); }
    std::vector<int> waits;
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

// A main window and its address book on fake seams, as the program builds them.
struct Fixture
{
    Fixture()
        : window(seams())
        , form2(window)
    {
        window.setAddressBook(&form2);
        if (auto* app = qobject_cast<TApplication*>(QCoreApplication::instance()))
            app->setDialogs(&dialogs);
    }
    ~Fixture()
    {
        if (auto* app = qobject_cast<TApplication*>(QCoreApplication::instance()))
            app->setDialogs(nullptr);
    }

    Seams seams() { return { &dialogs, &pacer, &beeper, &clock }; }

    FakeDialogs dialogs;
    FakePacer pacer;
    FakeBeeper beeper;
    FakeClock clock;
    TfrmMain window;
    TForm2 form2;
};
