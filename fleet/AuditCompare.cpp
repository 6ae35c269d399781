#include "fleet/AuditCompare.h"

#include "book/CustomerCard.h"
#include "device/TableGrid.h"
#include "tables/TableFile.h"
#include "tool/TableDiff.h"

namespace fleet {

bool holdsNoTable(const CustomerCard& card)
{
    for (int r = 1; r <= CustomerCard::SummaryRows; ++r)
        for (int c = 1; c <= CustomerCard::SummaryColumns; ++c)
            if (card.summaryByte(c, r) != 0)
                return false;
    return true;
}

Judgement judge(const CustomerCard& card, const TableGrid& box)
{
    Judgement judgement;
    if (holdsNoTable(card)) {
        judgement.outcome = Outcome::NoSummary;
        return judgement;
    }
    TableGrid summary;
    card.showSummaryIn(summary);
    for (const tool::Difference& d : tool::differences(summary, box)) {
        judgement.differences.push_back(
            FieldDifference{ fields::isHeaderField(d.field) ? 0 : d.association, QString(tool::fieldKey(d.field)), d.from, d.to });
    }
    judgement.outcome = judgement.differences.empty() ? Outcome::Same : Outcome::Different;
    return judgement;
}

QByteArray versionBytes(const TableGrid& box)
{
    return editor::tableFileBytes(box);
}

} // namespace fleet
