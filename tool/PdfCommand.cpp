// pdf: a table printed on A4 for the customer's folder.

#include "tool/Commands.h"
#include "tool/TableIo.h"
#include "tool/TableText.h"

#include <QBuffer>
#include <QDate>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>
#include <QTextOption>

namespace tool {

using fields::Field;

namespace {

constexpr int Dpi = 300;

// Points to device pixels at the writer's resolution.
qreal pt(qreal points)
{
    return points * Dpi / 72.0;
}

class Report
{
public:
    Report(const TableText& table, const QString& title)
        : table_(table)
        , title_(title)
    {
        for (const AssociationText& a : table.associations)
            if (a.used)
                rows_.push_back(&a);
        fields_ = fields::associationFieldsOf(table.model);
    }

    QByteArray render()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(Dpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 15, 18, 15),
                                         QPageLayout::Millimeter));
        writer.setTitle(title_);
        writer.setCreator(QStringLiteral("pradix-tool"));
        QPainter painter(&writer);
        if (!painter.isActive())
            fail(FileError, QStringLiteral("impossibile preparare il documento PDF."));

        const QRectF page(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
        body_ = QFont(QStringLiteral("DejaVu Sans"));
        body_.setPointSizeF(10);
        // No ligatures: "fi" stays two letters for whoever searches or
        // copies the document's text.
        body_.setStyleStrategy(QFont::PreferNoShaping);
        const qreal lineHeight = QFontMetricsF(body_, &writer).height() * 1.35;
        const qreal footer = lineHeight * 2;

        // Rows that fit under the heading on page 1, and under the title
        // repeated as a running head on the pages after.
        titleLines_ = wrapped(title_, titleFont(), &writer, page.width());
        const qreal firstTop = headingHeight(writer, lineHeight);
        const qreal laterTop = lineHeight * 1.5;
        const int firstRows = std::max(1, int((page.height() - footer - firstTop) / lineHeight) - 1);
        const int laterRows = std::max(1, int((page.height() - footer - laterTop) / lineHeight) - 1);
        const int rest = std::max(0, int(rows_.size()) - firstRows);
        const int pages = 1 + (rest + laterRows - 1) / laterRows;

        size_t next = 0;
        for (int p = 1; p <= pages; ++p) {
            if (p > 1)
                writer.newPage();
            const qreal y = p == 1 ? drawHeading(painter, page, lineHeight) : drawRunningHead(painter, page, lineHeight, laterTop);
            const int capacity = p == 1 ? firstRows : laterRows;
            if (!rows_.empty())
                drawRows(painter, page, y, lineHeight, next, capacity);
            painter.setFont(body_);
            painter.drawText(QRectF(0, page.height() - lineHeight, page.width(), lineHeight), Qt::AlignCenter,
                             QStringLiteral("Pagina %1 di %2").arg(p).arg(pages));
        }
        painter.end();
        return buffer.data();
    }

private:
    QStringList headingLines() const
    {
        QStringList lines;
        lines << QStringLiteral("Data: %1").arg(QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")));
        lines << QStringLiteral("Modello: %1").arg(modelName(table_.model));
        for (const Field f : fields::headerFieldsOf(table_.model)) {
            const QString value = table_[f];
            lines << QStringLiteral("%1: %2").arg(fieldName(f), value.isEmpty() ? QStringLiteral("-") : value);
        }
        lines << QStringLiteral("Associazioni usate: %1 di %2").arg(rows_.size()).arg(codec::RecordCount);
        return lines;
    }

    QFont titleFont() const
    {
        QFont font = body_;
        font.setPointSizeF(16);
        font.setBold(true);
        return font;
    }

    // A title too long for one line goes on as many as it needs, broken
    // between words where it can.
    static QStringList wrapped(const QString& text, const QFont& font, QPaintDevice* device, qreal width)
    {
        QTextLayout layout(text, font, device);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        QStringList lines;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << text.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        if (lines.isEmpty())
            lines << QString();
        return lines;
    }

    qreal headingHeight(QPaintDevice& device, qreal lineHeight) const
    {
        const qreal titleHeight = QFontMetricsF(titleFont(), &device).height();
        return titleHeight * (titleLines_.size() + 0.6) + lineHeight * (headingLines().size() + 1);
    }

    qreal drawHeading(QPainter& painter, const QRectF& page, qreal lineHeight)
    {
        painter.setFont(titleFont());
        const qreal titleHeight = QFontMetricsF(titleFont(), painter.device()).height();
        qreal y = 0;
        for (const QString& line : titleLines_) {
            painter.drawText(QRectF(0, y, page.width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
            y += titleHeight;
        }
        y += titleHeight * 0.6;
        painter.setFont(body_);
        for (const QString& line : headingLines()) {
            painter.drawText(QRectF(0, y, page.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
            y += lineHeight;
        }
        return y + lineHeight;
    }

    // The title on one line above the rows of every page after the first,
    // so a loose page still says whose table it is.
    qreal drawRunningHead(QPainter& painter, const QRectF& page, qreal lineHeight, qreal height)
    {
        QFont font = body_;
        font.setBold(true);
        painter.setFont(font);
        const QString head = QFontMetricsF(font, painter.device()).elidedText(title_, Qt::ElideRight, page.width());
        painter.drawText(QRectF(0, 0, page.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, head);
        return height;
    }

    qreal drawRows(QPainter& painter, const QRectF& page, qreal y, qreal lineHeight, size_t& next, int capacity)
    {
        // Column widths in parts of the page: number, then the fields.
        const std::vector<qreal> parts = fields_.size() == 2 ? std::vector<qreal>{ 1, 3, 3 }
                                                      : std::vector<qreal>{ 1, 2, 2, 1.3, 1.3, 1.6, 1 };
        qreal total = 0;
        for (qreal p : parts)
            total += p;
        auto row = [&](const QStringList& cells, bool bold) {
            QFont font = body_;
            font.setBold(bold);
            painter.setFont(font);
            qreal x = 0;
            for (int i = 0; i < cells.size(); ++i) {
                const qreal w = page.width() * parts[size_t(i)] / total;
                painter.drawText(QRectF(x + pt(2), y, w - pt(4), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, cells.at(i));
                x += w;
            }
            y += lineHeight;
            painter.drawLine(QPointF(0, y), QPointF(page.width(), y));
        };
        QStringList names{ QStringLiteral("N.") };
        for (const Field f : fields_)
            names << fieldName(f);
        painter.setPen(QPen(Qt::black, pt(0.5)));
        row(names, true);
        for (int k = 0; k < capacity && next < rows_.size(); ++k, ++next) {
            const AssociationText& a = *rows_[next];
            QStringList cells{ QString::number(a.number) };
            for (const Field f : fields_)
                cells << (a[f].isEmpty() ? QStringLiteral("-") : a[f]);
            row(cells, false);
        }
        return y;
    }

    const TableText& table_;
    QString title_;
    std::vector<const AssociationText*> rows_;
    std::vector<Field> fields_;
    QStringList titleLines_;
    QFont body_;
};

} // namespace

int runPdf(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Stampa una tabella in un documento PDF A4 per la cartella del cliente: titolo,\n"
                                        "data, modello, campi dell'intestazione, la tabella delle associazioni usate e i\n"
                                        "numeri di pagina. Il testo del documento si può selezionare e cercare."));
    parser.addOption(outputOption(QStringLiteral("il PDF da scrivere")));
    parser.addOption(QCommandLineOption(QStringLiteral("title"),
                                        QStringLiteral("il titolo (predefinito: \"Tabella\" e il nome del file)"),
                                        QStringLiteral("TESTO")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("o"));
    const QString path = parser.positional().first();
    const TableText table = tableText(loadTable(path));
    if (table.model == codec::Model::None)
        fail(TableRefused, QStringLiteral("la tabella non ha un modello (la prima cella non è U né Y): non si stampa."));
    QString title = parser.value(QStringLiteral("title")).left(200);
    if (title.isEmpty())
        title = QStringLiteral("Tabella %1").arg(QFileInfo(path).completeBaseName());
    Report report(table, title);
    writeOutput(parser, report.render());
    return Success;
}

} // namespace tool
