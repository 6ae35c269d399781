#pragma once

#include "GridText.h"
#include "book/CustomerCard.h"
#include "fleet/FleetStore.h"
#include "fleetui/FleetSetup.h"
#include "fleetui/FleetWindow.h"
#include "tables/TableFile.h"
#include "widgets/Seams.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A store, a book and a recording desktop for the fleet window's tests.
namespace fleettest {

class RecordingDialogs : public Dialogs
{
public:
    void information(QWidget*, const QString& text) override { informations << text; }
    bool question(QWidget*, const QString& text) override
    {
        questions << text;
        return answerYes;
    }
    void error(QWidget*, const QString& text) override { errors << text; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return QString(); }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return QString(); }

    QStringList informations;
    QStringList questions;
    QStringList errors;
    bool answerYes = true;
};

// A Kolvar22 table the write accepts; association 12 ends at `end`.
inline TableGrid table(const QString& end = QStringLiteral("1800"))
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#-----B0----------"));
    setRowText(grid, 2, sampleKolvar22);
    setRowText(grid, 13, QStringLiteral("0612**345*****0800") + end + QStringLiteral("1*1#"));
    return grid;
}

inline CustomerCard card(const QString& surname, const QString& number, const TableGrid* summary = nullptr)
{
    CustomerCard c;
    c.setText(CustomerCard::Field::Cognome, surname);
    c.setText(CustomerCard::Field::Nome, QStringLiteral("Anna"));
    c.setText(CustomerCard::Field::Numero, number);
    if (summary)
        c.takeSummaryFrom(*summary);
    return c;
}

inline QDateTime night(int day)
{
    return QDateTime(QDate(2026, 3, 1), QTime(2, 0), Qt::UTC).addDays(day);
}

struct Fleet
{
    Fleet()
    {
        setup.store = dir.filePath(QStringLiteral("fleet.sqlite"));
        setup.book = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    }

    void writeBook(const std::vector<CustomerCard>& cards)
    {
        QFile file(setup.book);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const CustomerCard& c : cards)
            file.write(reinterpret_cast<const char*>(c.data()), CustomerCard::Size);
    }

    // One run over one customer, its session ending so on that night.
    void record(int cardNumber, const QString& surname, const QString& number, fleet::Outcome outcome, int day,
                const TableGrid& read = table())
    {
        const std::unique_ptr<fleet::FleetStore> store = fleet::openStore(setup.store, fleet::OpenMode::Write);
        const fleet::Customer who{ cardNumber, surname, QStringLiteral("Anna"), number };
        const qint64 run = store->startRun({ QStringLiteral("com2") }, { who }, night(day));
        fleet::SessionResult s;
        s.customer = who;
        s.port = QStringLiteral("com2");
        s.host = QStringLiteral("officina");
        s.started = night(day);
        s.ended = night(day).addSecs(40);
        s.outcome = outcome;
        if (fleet::isGoodRead(outcome))
            s.table = editor::tableFileBytes(read);
        else
            s.detail = QStringLiteral("nessuna risposta");
        if (outcome == fleet::Outcome::Different)
            s.differences = { { 12, QStringLiteral("end"), QStringLiteral("1800"), QStringLiteral("1930") } };
        store->recordSession(run, s);
        store->endRun(run, fleet::RunEnd::Finished, night(day).addSecs(60));
    }

    std::unique_ptr<fleetui::FleetWindow> open(Pacer* pacer = nullptr)
    {
        return std::make_unique<fleetui::FleetWindow>(dialogs, setup, pacer);
    }

    QTemporaryDir dir;
    fleetui::FleetSetup setup;
    RecordingDialogs dialogs;
};

} // namespace fleettest
