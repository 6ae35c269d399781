// The main window's editor strips: selecting an association, the entry rules
// of every box, the "X" buttons and the table files. The rules themselves live
// in editor/; here they are handed the window's boxes and the grid.

#include "app/formMain.h"

#include "widgets/TableGridView.h"
#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"
#include "tables/TableFile.h"
#include "serial/HandlerGuard.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <array>
#include <functional>

namespace {

// The selector text the boxes were last filled from (a property of the selector).
constexpr char FilledFromProperty[] = "pradixFilledFrom";

// The selected association's grid row, or 0 when the selector selects none.
int selectedRow(const QSpinBox* selector)
{
    return editor::associationRow(editor::selectorValue(selector->text()));
}

// The key filter of a box and the longest text the operator can type in it,
// both its field's; false for a box whose typing is free.
bool boxRule(const QObject* box, fields::KeyFilter* filter, int* limit)
{
    *limit = 0;
    if (box->property(TypingRefusedProperty).toBool()) {
        *filter = fields::KeyFilter::Refuse;
        return true;
    }
    const QVariant field = box->property(BoxFieldProperty);
    if (!field.isValid())
        return false;
    const fields::Description& description = fields::describe(fields::Field(field.toInt()));
    if (description.filter == fields::KeyFilter::Any)
        return false;
    *filter = description.filter;
    *limit = description.typedLimit;
    return true;
}

// The character a key press types, if it types one. Tab moves the focus and
// Delete edits without typing, so neither goes through a key filter.
bool typedCharacter(const QKeyEvent* event, QChar* typed)
{
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return false;
    default:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    *typed = text.at(0);
    return true;
}

// Text that reaches a filtered box other than by typing: the paste shortcut,
// the context menu's paste, the middle mouse button, an input method. It goes
// in whole, when every character is one the box's key filter lets through as
// typed and the box can take that many, or not at all, with a beep as for a
// refused key. Dropping text on such a box is not offered. What the program
// itself puts in the boxes ("------" for an empty association) is not judged.
class PasteGuard : public QObject
{
public:
    PasteGuard(Beeper* beeper, std::function<void(QLineEdit*)> written, QObject* parent)
        : QObject(parent)
        , beeper_(beeper)
        , written_(std::move(written))
    {
    }

    void watch(QLineEdit* box)
    {
        box->setAcceptDrops(false);
        box->setAttribute(Qt::WA_InputMethodEnabled, false);
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (!box)
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
                paste(box, QGuiApplication::clipboard()->text(QClipboard::Clipboard));
                return true;
            }
            return false;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton
                && QGuiApplication::clipboard()->supportsSelection()) {
                box->deselect();
                paste(box, QGuiApplication::clipboard()->text(QClipboard::Selection));
                return true;
            }
            return false;
        case QEvent::ContextMenu:
            showMenu(box, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        case QEvent::InputMethod: {
            auto* input = static_cast<QInputMethodEvent*>(event);
            if (!input->commitString().isEmpty())
                paste(box, input->commitString());
            return true;
        }
        case QEvent::Drop:
        case QEvent::DragEnter:
        case QEvent::DragMove:
            event->ignore();
            return true;
        default:
            return false;
        }
    }

private:
    void paste(QLineEdit* box, const QString& text)
    {
        if (text.isEmpty() || box->isReadOnly())
            return;
        fields::KeyFilter filter = fields::KeyFilter::Any;
        int limit = 0;
        if (!boxRule(box, &filter, &limit))
            return;
        const bool typable = std::all_of(text.begin(), text.end(), [filter](QChar c) {
            return c.unicode() >= 0x20 && fields::filterKey(filter, c) == fields::KeyVerdict::Accept;
        });
        const bool fits = limit == 0 || box->text().size() - box->selectedText().size() + text.size() <= limit;
        if (!typable || !fits) {
            beeper_->beep();
            return;
        }
        box->insert(text);
        written_(box);
    }

    // The box's own menu, its paste going through the same judgement.
    void showMenu(QLineEdit* box, const QPoint& where)
    {
        QMenu* menu = box->createStandardContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        // The toolkit names its entries only by their (translated) captions.
        const QString pasteCaption = QCoreApplication::translate("QLineEdit", "&Paste");
        for (QAction* action : menu->actions()) {
            if (action->text().section(QLatin1Char('\t'), 0, 0) != pasteCaption)
                continue;
            action->setObjectName(QStringLiteral("edit-paste"));
            QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, box,
                    [this, box] { paste(box, QGuiApplication::clipboard()->text(QClipboard::Clipboard)); });
        }
        menu->popup(where);
    }

    Beeper* beeper_;
    std::function<void(QLineEdit*)> written_;
};

} // namespace

// The entry points named after the controls.

void TfrmMain::SpinEdit1Change()
{
    showSelectedAssociation();
}

void TfrmMain::StringGrid1Click(int column, int row)
{
    selectCell(column, row);
}

void TfrmMain::Button9Click()
{
    clearAssociation();
}

void TfrmMain::Edit1Change()
{
    writeManagement();
}

void TfrmMain::Edit4KeyUp()
{
    writeLocalPrefix();
}

void TfrmMain::CheckListBox1Click()
{
    writeBeepFlash();
}

void TfrmMain::Edit2KeyUp()
{
    writePrefix();
}

void TfrmMain::Edit3KeyUp()
{
    writeCarrier();
}

void TfrmMain::Edit5KeyUp()
{
    writeStartTime();
}

void TfrmMain::Edit6KeyUp()
{
    writeEndTime();
}

void TfrmMain::Edit8Change()
{
    writeDayType();
}

void TfrmMain::Edit9Change()
{
    writeLine();
}

void TfrmMain::Button2Click()
{
    nextManagement();
}

void TfrmMain::Button3Click()
{
    nextPort();
}

void TfrmMain::Button7Click()
{
    nextLine();
}

void TfrmMain::Button8Click()
{
    nextDayType();
}

void TfrmMain::Button5Click()
{
    saveTableFile();
}

void TfrmMain::Button6Click()
{
    loadTableFile();
}

void TfrmMain::connectEditor()
{
    // The typed limits are kept by the key filter instead of QLineEdit's
    // maxLength, which would also cut what the program puts into a box: an
    // empty association shows six "-" in the prefix box and eight in the code
    // box, and the write of a table reads them back from there.
    for (QLineEdit* box : { prefixBox_, carrierBox_, localPrefixBox_, startTimeBox_, endTimeBox_ })
        box->setMaxLength(32767);

    for (QObject* watched : std::initializer_list<QObject*> { prefixBox_, carrierBox_, localPrefixBox_, startTimeBox_,
                                                              endTimeBox_, clockBox_, lineBox_, beepFlashList_ })
        watched->installEventFilter(this);
    // Installed last, so it sees a paste before the key filter does.
    auto* pasteGuard = new PasteGuard(seams_.beeper, [this](QLineEdit* box) { editorKeyReleased(box); }, this);
    for (QLineEdit* box : { prefixBox_, carrierBox_, localPrefixBox_, startTimeBox_, endTimeBox_, clockBox_, lineBox_ })
        pasteGuard->watch(box);

    // Change rules run for every change of the text, the program's own included.
    connect(managementBox_, &QLineEdit::textChanged, this, guarded([this] { Edit1Change(); }));
    connect(dayTypeBox_, &QLineEdit::textChanged, this, guarded([this] { Edit8Change(); }));
    connect(lineBox_, &QLineEdit::textChanged, this, guarded([this] { Edit9Change(); }));
    // The selector's text, not its value. The spin box reports a new value
    // (set by the program, the arrows or typing) with its own textChanged; its
    // line edit reports what the operator types that is no value yet (0, an
    // erased number), which must still refill the boxes. A typed value comes
    // through both, and filling the boxes twice from one row changes nothing.
    connect(selector_, &QSpinBox::textChanged, this, guarded([this] { SpinEdit1Change(); }));
    if (auto* selectorText = selector_->findChild<QLineEdit*>())
        connect(selectorText, &QLineEdit::textChanged, this, guarded([this] { SpinEdit1Change(); }));
    // Leaving the selector with a "0" or an erased number in it puts its value
    // back as text without reporting that change: the boxes would still show
    // the "0" (nothing) or association 1 while every key released in them
    // writes the row the selector reads again. Refill them from that row. The
    // boxes start empty and are filled only once the selector's text changes.
    selector_->setProperty(FilledFromProperty, selector_->text());
    connect(selector_, &QAbstractSpinBox::editingFinished, this, guarded([this] {
        if (selector_->text() != selector_->property(FilledFromProperty).toString())
            SpinEdit1Change();
    }));

    connect(gridView_, &TableGridView::cellSelected, this,
            guarded([this](int column, int row) { StringGrid1Click(column, row); }));
    // clicked() comes after the item view has toggled a check box under the mouse.
    connect(beepFlashList_, &QAbstractItemView::clicked, this, guarded([this] { CheckListBox1Click(); }));

    connect(managementButton_, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
    connect(portSwitchButton_, &QPushButton::clicked, this, guarded([this] { Button3Click(); }));
    connect(saveFileButton_, &QPushButton::clicked, this, guarded([this] { Button5Click(); }));
    connect(loadFileButton_, &QPushButton::clicked, this, guarded([this] { Button6Click(); }));
    connect(lineButton_, &QPushButton::clicked, this, guarded([this] { Button7Click(); }));
    connect(dayTypeButton_, &QPushButton::clicked, this, guarded([this] { Button8Click(); }));
    connect(clearAssociationButton_, &QPushButton::clicked, this, guarded([this] { Button9Click(); }));
}

bool TfrmMain::filterEditorKey(QObject* watched, QKeyEvent* event)
{
    if (watched == beepFlashList_) {
        // The space bar toggles the current item and, like a mouse click,
        // writes beep and flash into the header: the grid never disagrees
        // with the check marks the operator has set.
        if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier)
            return false;
        if (QListWidgetItem* item = beepFlashList_->currentItem()) {
            item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            CheckListBox1Click();
        }
        return true;
    }

    fields::KeyFilter filter = fields::KeyFilter::Any;
    int limit = 0;
    if (!boxRule(watched, &filter, &limit))
        return false;
    auto* box = static_cast<QLineEdit*>(watched);

    QChar typed;
    if (!typedCharacter(event, &typed))
        return false;
    switch (fields::filterKey(filter, typed)) {
    case fields::KeyVerdict::Drop:
        seams_.beeper->beep();
        return true;
    case fields::KeyVerdict::TypeZero:
        seams_.beeper->beep();
        box->insert(QStringLiteral("0"));
        return true;
    case fields::KeyVerdict::Accept:
        break;
    }
    // A full box takes no more characters; Backspace and Enter still work.
    const bool adds = typed.unicode() >= 0x20;
    return adds && limit > 0 && box->text().size() - box->selectedText().size() >= limit;
}

void TfrmMain::editorKeyReleased(QObject* watched)
{
    if (watched == prefixBox_)
        Edit2KeyUp();
    else if (watched == carrierBox_)
        Edit3KeyUp();
    else if (watched == localPrefixBox_)
        Edit4KeyUp();
    else if (watched == startTimeBox_)
        Edit5KeyUp();
    else if (watched == endTimeBox_)
        Edit6KeyUp();
}

void TfrmMain::showSelectedAssociation()
{
    fillBoxes(true);
}

void TfrmMain::fillBoxes(bool runRules)
{
    selector_->setProperty(FilledFromProperty, selector_->text());
    const editor::BoxFill fill
        = editor::boxesForAssociation(grid_, editor::selectorValue(selector_->text()), codec::modelOf(grid_));
    // Their change rules write the day type and line back with "*" and "#".
    const QSignalBlocker quietDay(runRules ? nullptr : dayTypeBox_);
    const QSignalBlocker quietLine(runRules ? nullptr : lineBox_);
    for (fields::Field field : fields::AssociationFields)
        if (const std::optional<QString>& text = fill[field])
            fieldBoxes_[std::size_t(field)]->setText(*text);
}

void TfrmMain::showSentAssociation(int association)
{
    {
        // The spin box and the line edit inside it both report the new text.
        const QSignalBlocker quietSelector(selector_);
        const QSignalBlocker quietText(selector_->findChild<QLineEdit*>());
        selector_->setValue(association);
    }
    const std::array<QLineEdit*, 4> boxes { prefixBox_, carrierBox_, startTimeBox_, endTimeBox_ };
    std::array<QString, 4> before;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        before[i] = boxes[i]->text();
    fillBoxes(false);
    // No events are served while a table goes out: what changed is painted
    // now. A box that shows what it showed has nothing new to paint.
    selector_->repaint();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        if (boxes[i]->text() != before[i])
            boxes[i]->repaint();
}

void TfrmMain::selectCell(int column, int row)
{
    editor::rewriteRowNumbers(grid_);
    if (row >= 2 && row <= TableGrid::LastDataRow)
        selector_->setValue(row - 1);
    if (column == 1 && row == 1) {
        selectModel(editor::modelAfterMarkerClick(grid_));
        grid_.setCell(2, 1, '#');
    }
}

void TfrmMain::clearAssociation()
{
    for (QLineEdit* box : { managementBox_, prefixBox_, carrierBox_, localPrefixBox_, startTimeBox_, endTimeBox_,
                            clockBox_, dayTypeBox_, lineBox_ })
        box->clear();
    editor::clearAssociation(grid_, selectedRow(selector_));
}

void TfrmMain::writeManagement()
{
    editor::managementChanged(grid_, managementBox_->text());
}

void TfrmMain::writeLocalPrefix()
{
    editor::localPrefixReleased(grid_, localPrefixBox_->text());
}

void TfrmMain::writeBeepFlash()
{
    editor::beepFlashClicked(grid_, beepFlashList_->item(0)->checkState() == Qt::Checked,
                             beepFlashList_->item(1)->checkState() == Qt::Checked);
}

void TfrmMain::writePrefix()
{
    editor::prefixReleased(grid_, selectedRow(selector_), prefixBox_->text(), codec::modelOf(grid_));
}

void TfrmMain::writeCarrier()
{
    const editor::CodeResult result = editor::codeReleased(grid_, selectedRow(selector_), carrierBox_->text(),
                                                           prefixBox_->text(), codec::modelOf(grid_));
    if (result.defaults) {
        startTimeBox_->setText(QStringLiteral("0000"));
        endTimeBox_->setText(QStringLiteral("2400"));
    }
}

void TfrmMain::writeStartTime()
{
    const editor::TimeResult result
        = editor::timeReleased(grid_, selectedRow(selector_), startTimeBox_->text(), editor::StartTimeColumn);
    if (result.clearBox)
        startTimeBox_->clear();
    if (result.beep)
        seams_.beeper->beep();
}

void TfrmMain::writeEndTime()
{
    const editor::TimeResult result
        = editor::timeReleased(grid_, selectedRow(selector_), endTimeBox_->text(), editor::EndTimeColumn);
    if (result.clearBox)
        endTimeBox_->clear();
    if (result.beep)
        seams_.beeper->beep();
}

void TfrmMain::writeDayType()
{
    editor::dayTypeChanged(grid_, selectedRow(selector_), dayTypeBox_->text());
}

void TfrmMain::writeLine()
{
    editor::lineChanged(grid_, selectedRow(selector_), lineBox_->text());
}

void TfrmMain::nextManagement()
{
    managementBox_->setText(editor::nextManagement(managementBox_->text()));
}

void TfrmMain::nextPort()
{
    // Any name the operator typed is kept as it stands until the button is pressed.
    portBox_->setText(editor::nextPort(portBox_->text()));
}

void TfrmMain::nextLine()
{
    if (!prefixBox_->text().isEmpty()) {
        lineBox_->setText(editor::nextLine(lineBox_->text()));
        return;
    }
    // A line for an association without a prefix: the association goes.
    seams_.beeper->beep();
    for (QLineEdit* box : { startTimeBox_, endTimeBox_, dayTypeBox_, lineBox_ })
        box->clear();
    editor::clearAssociation(grid_, selectedRow(selector_));
}

void TfrmMain::nextDayType()
{
    dayTypeBox_->setText(editor::nextDayType(dayTypeBox_->text()));
}

void TfrmMain::saveTableFile()
{
    const QString path = seams_.dialogs->saveFileName(this, editor::TableFileFilter, editor::TableFileSuffix);
    if (path.isEmpty())
        return;
    const editor::SaveResult result = editor::saveTableFile(grid_, path);
    if (!result.saved()) {
        seams_.dialogs->error(this, editor::saveFailedMessage(path, result));
        return;
    }
    if (!result.replacedRows.empty())
        seams_.dialogs->information(this, editor::replacedCellsMessage(result.replacedRows));
}

void TfrmMain::loadTableFile()
{
    const QString path = seams_.dialogs->openFileName(this, editor::TableFileFilter, editor::TableFileSuffix);
    if (path.isEmpty())
        return;
    focusWindow();
    // The boxes, the selector and the check marks keep what they show until
    // the operator selects an association.
    const editor::LoadResult result = editor::loadTableFile(grid_, path);
    if (!result.loaded()) {
        seams_.dialogs->error(this, editor::loadFailedMessage(path, result));
        return;
    }
    const codec::Model model = codec::modelOf(grid_);
    if (model != codec::Model::None)
        selectModel(model);
}
