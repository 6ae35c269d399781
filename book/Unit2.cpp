#include "book/Unit2.h"

#include "book/BookHost.h"

#include "device/TableGridView.h"
#include "help/HelpContext.h"
#include "widgets/Fonts.h"

#include <QLabel>

TForm2::TForm2(BookHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , host_(host)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Rubrica"));
    setFixedSize(610, 380);
    setProperty(helpContextProperty, 230);
    // Closing the main window ends the program, even with the address book open.
    setAttribute(Qt::WA_QuitOnClose, false);
    const QFont font = pixelFont(15);
    setFont(font);

    StringGrid2 = new TableGridView(summary_, this);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setGeometry(8, 150, 594, 160);
    StringGrid2->setToolTip(QStringLiteral("Riepilogo delle programmazioni"));
    StringGrid2->setAccessibleName(QStringLiteral("StringGrid2"));
    StringGrid2->setProperty(helpContextProperty, 23);

    Label9 = new QLabel(this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setGeometry(0, 350, 610, 24);
    Label9->setAlignment(Qt::AlignCenter);
    Label9->setTextFormat(Qt::PlainText);
    QFont status = font;
    status.setPixelSize(16);
    Label9->setFont(status);
}

void TForm2::mirrorSummary(const TableGrid& mainGrid)
{
    summary_.copyDataFrom(mainGrid);
}

void TForm2::showFromMain()
{
    if (host_.summaryEditing())
        mirrorSummary(host_.grid());
    show();
    raise();
    activateWindow();
    Label9->clear();
}
