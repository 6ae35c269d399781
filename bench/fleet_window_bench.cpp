// The fleet window over a big store (10,000 boxes, a year of nightly runs:
// bench/FleetFixture.h) and a book of 10,000 customers: the window opened
// and shown (the store's boxes and the book read, the list's model filled),
// and a filter or a search over the 10,000 rows. Medians of a few after one
// that warms the store's pages.
#include "bench/BenchSupport.h"
#include "bench/FleetFixture.h"
#include "book/CustomerCard.h"
#include "fleetui/FleetListModel.h"
#include "fleetui/FleetWindow.h"
#include "widgets/Seams.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

class SilentDialogs : public Dialogs
{
public:
    void information(QWidget*, const QString&) override {}
    bool question(QWidget*, const QString&) override { return false; }
    void error(QWidget*, const QString&) override {}
    QString openFileName(QWidget*, const QString&, const QString&) override { return QString(); }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return QString(); }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::FleetFixture fixture = bench::fleetFixture();
    if (fixture.path.isEmpty())
        return 1;
    QTemporaryDir folder;
    fleetui::FleetSetup setup;
    setup.store = fixture.path;
    setup.book = folder.filePath(QStringLiteral("RUBRICA.DAT"));
    {
        QFile book(setup.book);
        if (!book.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 1; i <= fixture.boxes; ++i) {
            CustomerCard card;
            card.setText(CustomerCard::Field::Cognome, QStringLiteral("Cliente%1").arg(i % 977));
            card.setText(CustomerCard::Field::Numero, bench::FleetFixture::number(i));
            book.write(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
        }
    }
    SilentDialogs dialogs;
    int rows = 0;
    const double open = bench::medianMs(5, [&](int) {
        fleetui::FleetWindow window(dialogs, setup);
        window.show();
        QCoreApplication::processEvents();
        rows = window.findChild<QTableView*>(QStringLiteral("FleetList"))->model()->rowCount();
    });
    if (rows != fixture.boxes) {
        std::fprintf(stderr, "fleet_window_bench: the window shows %d rows, not %d\n", rows, fixture.boxes);
        return 1;
    }
    fleetui::FleetWindow window(dialogs, setup);
    window.show();
    QCoreApplication::processEvents();
    auto* filter = window.findChild<QComboBox*>(QStringLiteral("FleetFilter"));
    auto* search = window.findChild<QLineEdit*>(QStringLiteral("FleetSearch"));
    const QStringList searches = { QStringLiteral("Cliente12"), QStringLiteral("0300"), QStringLiteral("cliente9") };
    const double filtered = bench::medianMs(21, [&](int i) {
        if (i % 2 == 0) {
            filter->setCurrentIndex((i / 2) % 4);
        } else {
            search->setText(searches[(i / 2) % searches.size()]);
        }
        QCoreApplication::processEvents();
    });
    std::printf("BENCH fleet_window_open_ms %.0f ms target < 300\n", open);
    std::printf("BENCH fleet_filter_ms %.1f ms target < 30\n", filtered);
    return 0;
}
