#pragma once

#include "fleet/FleetStore.h"

#include <QByteArray>

#include <vector>

class CustomerCard;
class TableGrid;

// A good read judged against the customer's card: the same comparison as
// `pradix-tool diff` of the card's summary with the box's table, the box's
// clock and its own text apart (the grid holds neither).
namespace fleet {

struct Judgement
{
    Outcome outcome = Outcome::Same; // Same, Different or NoSummary
    std::vector<FieldDifference> differences; // for Different: card's value, box's value
};

// A fresh card holds no table: every byte of its summary is 0.
bool holdsNoTable(const CustomerCard& card);

Judgement judge(const CustomerCard& card, const TableGrid& box);

// The table as a table file holds it (3584 bytes), the form a version is kept in.
QByteArray versionBytes(const TableGrid& box);

} // namespace fleet
