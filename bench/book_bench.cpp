// Sorting the address book as "Ordina" does: books of 256 and 10,000 cards in
// reverse surname order, every card with a full summary. The time covers
// reading the book, sorting, writing the sorted book beside it, flushing it to
// disk, putting it in place and opening it again. Prints the median run.
// Then "Successivo" in the address book window on a book of 10,000 cards, the
// window offscreen: the card read, shown and its summary painted.
// Last, one card saved over another in a book of 256 cards on the disk the
// program was built on (not a memory file system), every sync included.
#include "app/Application.h"
#include "app/Program.h"
#include "book/AddressBookFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

QByteArray reverseBook(int count)
{
    QByteArray bytes;
    bytes.reserve(count * CustomerCard::Size);
    for (int i = count - 1; i >= 0; --i) {
        CustomerCard card;
        card.setText(CustomerCard::Field::Cognome, QStringLiteral("COGNOME%1").arg(i, 6, 10, QLatin1Char('0')));
        card.setText(CustomerCard::Field::Nome, QStringLiteral("NOME %1").arg(i));
        card.setText(CustomerCard::Field::Numero, QStringLiteral("0212345678"));
        for (int r = 1; r <= CustomerCard::SummaryRows; ++r)
            for (int c = 1; c <= CustomerCard::SummaryColumns; ++c)
                card.setSummaryByte(c, r, std::uint8_t('0' + (r + c + i) % 10));
        bytes.append(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
    }
    return bytes;
}

double medianSortMs(int count, int runs, const QString& folder)
{
    const QByteArray book = reverseBook(count);
    const QString path = folder + QStringLiteral("/RUBRICA.DAT");
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(book) != book.size())
            return -1;
        file.close();
        AddressBookFile rubrica;
        rubrica.open(path);
        const auto start = std::chrono::steady_clock::now();
        const int sorted = rubrica.sortBySurname();
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        if (sorted != count)
            return -1;
        times.push_back(spent.count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[size_t(runs / 2)];
}

// The median time of one "Successivo" from the first card on, or -1 when the
// window did not move on as it should.
double medianNextCardMs(const QString& folder)
{
    const QByteArray book = reverseBook(10000);
    QFile file(folder + QStringLiteral("/RUBRICA.DAT"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(book) != book.size())
        return -1;
    file.close();

    const QString before = QDir::currentPath();
    QDir::setCurrent(folder);
    double median = -1;
    {
        Program program(realSeams());
        program.frmMain.show();
        program.form2.showFromMain();
        QCoreApplication::processEvents();
        auto* next = program.form2.findChild<QPushButton*>(QStringLiteral("Bsuccessivo"));
        auto* number = program.form2.findChild<QLineEdit*>(QStringLiteral("Edit8"));
        constexpr int Presses = 500;
        std::vector<double> times;
        for (int i = 0; next && number && i < Presses; ++i) {
            const auto start = std::chrono::steady_clock::now();
            next->click();
            program.form2.repaint();
            const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
            times.push_back(spent.count());
        }
        if (times.size() == size_t(Presses) && number->text() == QString::number(Presses + 1)) {
            std::nth_element(times.begin(), times.begin() + Presses / 2, times.end());
            median = times[size_t(Presses / 2)];
        }
    }
    QDir::setCurrent(before);
    return median;
}

// The median time of one card save, or -1 when the book did not take it.
double medianCardSaveMs(const QString& folder)
{
    const QString path = folder + QStringLiteral("/RUBRICA.DAT");
    QFile file(path);
    const QByteArray book = reverseBook(256);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(book) != book.size())
        return -1;
    file.close();
    AddressBookFile rubrica;
    rubrica.open(path);
    CustomerCard card;
    card.setText(CustomerCard::Field::Cognome, QStringLiteral("ROSSI"));
    constexpr int Saves = 101;
    std::vector<double> times;
    for (int i = 0; i < Saves; ++i) {
        card.setSummaryByte(1, 1, std::uint8_t('0' + i % 10));
        rubrica.seek((i * 37) % 256);
        const auto start = std::chrono::steady_clock::now();
        rubrica.writeCard(card);
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count());
    }
    if (rubrica.cardCount() != 256)
        return -1;
    std::nth_element(times.begin(), times.begin() + Saves / 2, times.end());
    return times[size_t(Saves / 2)];
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    try {
        const double small = medianSortMs(256, 21, folder.path());
        const double large = medianSortMs(10000, 7, folder.path());
        if (small < 0 || large < 0) {
            std::fprintf(stderr, "book: the sort lost cards\n");
            return 1;
        }
        std::printf("BENCH sort256_ms %.1f ms target < 50\n", small);
        std::printf("BENCH sort10k_ms %.1f ms target < 1000\n", large);
        const double next = medianNextCardMs(folder.path());
        if (next < 0) {
            std::fprintf(stderr, "book: \"Successivo\" did not walk the book\n");
            return 1;
        }
        std::printf("BENCH next_card_ms %.2f ms target < 5\n", next);
        QTemporaryDir onDisk(QCoreApplication::applicationDirPath() + QStringLiteral("/card-save-XXXXXX"));
        const double save = onDisk.isValid() ? medianCardSaveMs(onDisk.path()) : -1;
        if (save < 0) {
            std::fprintf(stderr, "book: the card save did not go into the book\n");
            return 1;
        }
        std::printf("BENCH card_save_ms %.2f ms target < 20\n", save);
    } catch (const AddressBookError& e) {
        std::fprintf(stderr, "book: %s\n", e.what());
        return 1;
    }
    return 0;
}
