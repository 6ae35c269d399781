#pragma once

#include "device/Pacer.h"

#include <QString>

class QWidget;

// The few places where the windows meet the operator's desktop (message
// boxes, file dialogs, the beep) or the passage of time (device/Pacer.h).
// Each has a real implementation; tests put in their own to script answers,
// count beeps and record pauses instead of sleeping.

class Dialogs
{
public:
    virtual ~Dialogs() = default;
    virtual void information(QWidget* parent, const QString& text) = 0;
    virtual bool question(QWidget* parent, const QString& text) = 0; // true for Yes
    // A question whose Yes cannot be taken back (a box written over the line,
    // a card's summary replaced): Enter alone answers No.
    virtual bool cautiousQuestion(QWidget* parent, const QString& text) { return question(parent, text); }
    virtual void error(QWidget* parent, const QString& text) = 0;
    // An empty result means the operator cancelled.
    virtual QString openFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) = 0;
};

class Beeper
{
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

class RealDialogs : public Dialogs
{
public:
    void information(QWidget* parent, const QString& text) override;
    bool question(QWidget* parent, const QString& text) override;
    bool cautiousQuestion(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    QString openFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    QString saveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
};

class RealBeeper : public Beeper
{
public:
    void beep() override;
};

// What a window is handed: one of each.
struct Seams
{
    Dialogs* dialogs = nullptr;
    Pacer* pacer = nullptr;
    Beeper* beeper = nullptr;
    Clock* clock = nullptr;
};

// The real implementations, alive for the whole program.
Seams realSeams();
