#include "fleetui/FleetRows.h"

#include "book/AddressBookError.h"
#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"

#include <QHash>

namespace fleetui {

RowState FleetRow::state() const
{
    if (!box.lastOutcome)
        return RowState::NeverChecked;
    switch (*box.lastOutcome) {
    case fleet::Outcome::Same:
        return RowState::Same;
    case fleet::Outcome::Different:
        return RowState::Different;
    case fleet::Outcome::NoSummary:
        return RowState::NoSummary;
    case fleet::Outcome::Unreached:
        return RowState::Unreached;
    case fleet::Outcome::Refused:
        return RowState::Refused;
    }
    return RowState::NeverChecked;
}

QString FleetRow::cardNote() const
{
    switch (match) {
    case CardMatch::Present:
        return QString();
    case CardMatch::NoNumber:
        return QStringLiteral("scheda senza numero");
    case CardMatch::NumberChanged:
        return QStringLiteral("la scheda %1 ora chiama il %2").arg(box.card).arg(otherNumber);
    case CardMatch::Missing:
        return QStringLiteral("nessuna scheda chiama più questo numero");
    case CardMatch::BookUnknown:
        return QStringLiteral("rubrica non leggibile");
    }
    return QString();
}

QString FleetRow::cardProblem() const
{
    switch (match) {
    case CardMatch::Present:
        return QString();
    case CardMatch::NoNumber:
        return QStringLiteral("La scheda %1 non ha un numero da chiamare.").arg(box.card);
    case CardMatch::NumberChanged:
        return QStringLiteral("La scheda %1 ora chiama il %2, non il %3: la centralina non è più di quella scheda.")
            .arg(box.card)
            .arg(otherNumber, box.number);
    case CardMatch::Missing:
        return QStringLiteral("Nessuna scheda della rubrica chiama più il %1.").arg(box.number);
    case CardMatch::BookUnknown:
        return QStringLiteral("La rubrica non si è potuta leggere: non si sa di quale scheda sia il %1.").arg(box.number);
    }
    return QString();
}

QString stateWord(RowState state)
{
    switch (state) {
    case RowState::Same:
        return fleet::outcomeWord(fleet::Outcome::Same);
    case RowState::Different:
        return fleet::outcomeWord(fleet::Outcome::Different);
    case RowState::NoSummary:
        return fleet::outcomeWord(fleet::Outcome::NoSummary);
    case RowState::Unreached:
        return fleet::outcomeWord(fleet::Outcome::Unreached);
    case RowState::Refused:
        return fleet::outcomeWord(fleet::Outcome::Refused);
    case RowState::NeverChecked:
        break;
    }
    return QStringLiteral("mai controllata");
}

std::vector<FleetRow> fleetRows(const std::vector<fleet::BoxState>& boxes, const std::optional<std::vector<BookEntry>>& book)
{
    std::vector<FleetRow> rows;
    rows.reserve(boxes.size() + (book ? book->size() : 0));
    // The first card that dials a number is the one "Chiama" would use.
    QHash<QString, int> cardOfNumber;
    if (book) {
        cardOfNumber.reserve(int(book->size()));
        for (int i = int(book->size()) - 1; i >= 0; --i)
            if (!(*book)[size_t(i)].number.isEmpty())
                cardOfNumber.insert((*book)[size_t(i)].number, i);
    }
    QHash<QString, bool> known;
    known.reserve(int(boxes.size()));
    for (const fleet::BoxState& box : boxes) {
        FleetRow row;
        row.box = box;
        known.insert(box.number, true);
        if (!book) {
            row.match = CardMatch::BookUnknown;
        } else if (const auto found = cardOfNumber.constFind(box.number); found != cardOfNumber.cend()) {
            const BookEntry& entry = (*book)[size_t(*found)];
            row.bookCard = entry.card;
            row.box.card = entry.card;
            row.box.surname = entry.surname;
            row.box.name = entry.name;
        } else if (box.card >= 1 && box.card <= int(book->size()) && !(*book)[size_t(box.card - 1)].number.isEmpty()) {
            row.match = CardMatch::NumberChanged;
            row.otherNumber = (*book)[size_t(box.card - 1)].number;
        } else {
            row.match = CardMatch::Missing;
        }
        rows.push_back(std::move(row));
    }
    if (!book)
        return rows;
    for (const BookEntry& entry : *book) {
        if (!entry.number.isEmpty() && known.contains(entry.number))
            continue;
        FleetRow row;
        row.box.number = entry.number;
        row.box.card = entry.card;
        row.box.surname = entry.surname;
        row.box.name = entry.name;
        row.bookCard = entry.card;
        if (entry.number.isEmpty())
            row.match = CardMatch::NoNumber;
        else
            known.insert(entry.number, true); // a second card with the same number is one box
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::vector<BookEntry>> readBookEntries(const QString& path, QString& problem)
{
    // Far beyond any customer list; a file this big was named by mistake.
    constexpr int MaxCards = 100000;
    try {
        AddressBookFile file;
        file.open(path, AddressBookFile::Access::ReadOnly);
        if (file.cardCount() > MaxCards) {
            problem = QStringLiteral("La rubrica \"%1\" ha più di %2 schede: non è una rubrica.").arg(path).arg(MaxCards);
            return std::nullopt;
        }
        std::vector<BookEntry> entries;
        entries.reserve(size_t(file.cardCount()));
        CustomerCard card;
        for (int i = 0; i < file.cardCount(); ++i) {
            file.readCard(card);
            entries.push_back({ i + 1, card.text(CustomerCard::Field::Cognome), card.text(CustomerCard::Field::Nome),
                                card.text(CustomerCard::Field::Numero) });
        }
        return entries;
    } catch (const AddressBookError& error) {
        problem = error.message();
        return std::nullopt;
    }
}

} // namespace fleetui
