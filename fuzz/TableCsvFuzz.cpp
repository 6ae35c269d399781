// A table CSV as a spreadsheet may hand it back: any bytes at all. The
// reader stays inside its bounds, writing the records again reads back the
// same fields, and a table put together from field texts reads back as the
// same texts: importing what was exported never changes a cell.
#include "fuzz/FuzzCheck.h"
#include "tool/Csv.h"
#include "tool/TableText.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const auto records = csv::parse(bytes, 200, &error);
    if (!records) {
        fuzzCheck(!error.isEmpty(), "a refused file without a reason");
        return 0;
    }
    fuzzCheck(records->size() <= 200, "more records than allowed");
    QByteArray again;
    for (const csv::Record& r : *records) {
        fuzzCheck(r.fields.size() <= 64, "more fields than allowed");
        again += csv::record(r.fields);
    }
    const auto reread = csv::parse(again, 200, &error);
    fuzzCheck(reread && reread->size() == records->size(), "written records do not read back");
    for (size_t i = 0; i < records->size(); ++i)
        fuzzCheck((*reread)[i].fields == (*records)[i].fields, "a written record reads back changed");

    tool::TableText text;
    text.model = size > 0 && (data[0] & 1) ? codec::Model::Kolvar1 : codec::Model::Kolvar22;
    text.associations.resize(codec::RecordCount);
    for (int n = 1; n <= codec::RecordCount; ++n)
        text.associations[size_t(n - 1)].number = n;
    for (size_t i = 0; i < records->size() && i < size_t(codec::RecordCount); ++i) {
        const QStringList& fields = (*records)[i].fields;
        for (size_t f = 0; f < fields::AssociationFields.size() && int(f) < fields.size(); ++f)
            text.associations[i][fields::AssociationFields[f]] = fields.at(int(f));
    }
    text[fields::Field::LocalPrefix] = QStringLiteral("-");
    TableGrid grid;
    if (tool::fieldsToGrid(text, grid))
        return 0;
    TableGrid back;
    fuzzCheck(!tool::fieldsToGrid(tool::tableText(grid), back), "a table's own texts are refused");
    fuzzCheck(back.dataEquals(grid), "a table's own texts give other cells");
    return 0;
}
