// One customer card of RUBRICA.DAT as a book copied from another machine may
// hold it: any 3454 bytes. Every text must read within its field, whatever its
// length byte says, and store back to the very bytes it was read from; the
// summary must show in the grid and come back from it byte for byte; the
// surname order must be a strict order on the cards it compares.
#include "book/CustomerCard.h"
#include "device/TableGrid.h"
#include "fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

CustomerCard cardFrom(const std::uint8_t* data, size_t size)
{
    CustomerCard card;
    std::memcpy(card.data(), data, std::min<size_t>(size, CustomerCard::Size));
    return card;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const CustomerCard card = cardFrom(data, size);

    CustomerCard copy;
    for (int f = 0; f < CustomerCard::FieldCount; ++f) {
        const auto field = static_cast<CustomerCard::Field>(f);
        const CustomerCard::Layout at = CustomerCard::layout(field);
        const int length = card.textLength(field);
        fuzzCheck(length >= 0 && length <= at.capacity, "a text length outside its field");
        const QString text = card.text(field);
        fuzzCheck(text.size() == length, "a text does not read one character a byte");
        copy.setText(field, text);
        fuzzCheck(copy.textLength(field) == length, "a text read and stored again changed length");
        fuzzCheck(std::memcmp(copy.data() + at.offset + 1, card.data() + at.offset + 1, size_t(length)) == 0,
                  "a text read and stored again changed its bytes");
        fuzzCheck(copy.text(field) == text, "a text stored again reads differently");
    }

    TableGrid grid;
    card.showSummaryIn(grid);
    for (int r = 1; r <= CustomerCard::SummaryRows; ++r)
        for (int c = 1; c <= CustomerCard::SummaryColumns; ++c)
            fuzzCheck(grid.cell(c, r).size() == 1, "a summary cell shown as other than one character");
    copy.takeSummaryFrom(grid);
    fuzzCheck(std::memcmp(copy.data() + CustomerCard::SummaryOffset, card.data() + CustomerCard::SummaryOffset,
                          size_t(CustomerCard::Size - CustomerCard::SummaryOffset))
                  == 0,
              "the summary shown in the grid comes back different");

    // A second card from the bytes after the first, when there are any, else
    // the first one's summary moved into place: two surnames to compare.
    const CustomerCard other = size > size_t(CustomerCard::Size)
        ? cardFrom(data + CustomerCard::Size, size - size_t(CustomerCard::Size))
        : cardFrom(data + std::min<size_t>(size, CustomerCard::SummaryOffset),
                   size - std::min<size_t>(size, CustomerCard::SummaryOffset));
    fuzzCheck(!CustomerCard::surnameBefore(card, card), "a surname sorts before itself");
    const bool ab = CustomerCard::surnameBefore(card, other);
    const bool ba = CustomerCard::surnameBefore(other, card);
    fuzzCheck(!(ab && ba), "two surnames each sort before the other");
    if (!ab && !ba)
        fuzzCheck(card.text(CustomerCard::Field::Cognome) == other.text(CustomerCard::Field::Cognome),
                  "different surnames sort as equal");
    return 0;
}
