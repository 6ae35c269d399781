#include "widgets/Seams.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// The title of the program's message boxes.
const QString BoxTitle = QStringLiteral("Pradix");

// "Dat Files|*.dat|All Files|*.*" becomes Qt's "Dat Files (*.dat);;All Files (*.*)".
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return entries.join(QStringLiteral(";;"));
}

QString runFileDialog(QWidget* parent, const QString& filter, const QString& suffix, QFileDialog::AcceptMode mode)
{
    // A fresh dialog each time: no file name is remembered between uses, and
    // the program's current folder is never changed by browsing.
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile); // the chosen file need not exist yet
    dialog.setNameFilter(qtFilter(filter));
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

void RealDialogs::information(QWidget* parent, const QString& text)
{
    // A plain box: the text and OK, no icon. Plain text too: a message may
    // carry a file or port name, a card's text or a program's name from the
    // system, and none of them is markup to render.
    QMessageBox box(QMessageBox::NoIcon, BoxTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

namespace {

bool ask(QWidget* parent, const QString& text, QMessageBox::StandardButton byDefault)
{
    QMessageBox box(QMessageBox::Question, BoxTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(byDefault);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

bool RealDialogs::question(QWidget* parent, const QString& text)
{
    return ask(parent, text, QMessageBox::Yes);
}

bool RealDialogs::cautiousQuestion(QWidget* parent, const QString& text)
{
    return ask(parent, text, QMessageBox::No);
}

void RealDialogs::error(QWidget* parent, const QString& text)
{
    // Plain like every other message of the program.
    information(parent, text);
}

QString RealDialogs::openFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return runFileDialog(parent, filter, defaultSuffix, QFileDialog::AcceptOpen);
}

QString RealDialogs::saveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return runFileDialog(parent, filter, defaultSuffix, QFileDialog::AcceptSave);
}

void RealBeeper::beep()
{
    QApplication::beep();
}

Seams realSeams()
{
    static RealDialogs dialogs;
    static RealPacer pacer;
    static RealBeeper beeper;
    static RealClock clock;
    return { &dialogs, &pacer, &beeper, &clock };
}
