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

// The key filter of a box and the longest text the operator can type in it;
// false for a box whose typing is free.
bool boxRule(const QObject* box, fields::KeyFilter* filter, int* limit)
{
    *limit = 0;
    // The box clock shows the time a read found: nothing may be typed there.
    if (box->objectName() == QLatin1String("Edit7")) {
        *filter = fields::KeyFilter::Refuse;
        return true;
    }
    const std::optional<fields::Field> field = fields::fieldOfBox(box->objectName());
    if (!field || fields::describe(*field).filter == fields::KeyFilter::Any)
        return false;
    *filter = fields::describe(*field).filter;
    *limit = fields::describe(*field).typedLimit;
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

void TfrmMain::connectEditor()
{
    // The typed limits are kept by the key filter instead of QLineEdit's
    // maxLength, which would also cut what the program puts into a box: an
    // empty association shows six "-" in the prefix box and eight in the code
    // box, and the write of a table reads them back from there.
    for (QLineEdit* box : { Edit2, Edit3, Edit4, Edit5, Edit6 })
        box->setMaxLength(32767);

    for (QObject* watched : std::initializer_list<QObject*> { Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit9,
                                                              CheckListBox1 })
        watched->installEventFilter(this);
    // Installed last, so it sees a paste before the key filter does.
    auto* pasteGuard = new PasteGuard(seams_.beeper, [this](QLineEdit* box) { editorKeyReleased(box); }, this);
    for (QLineEdit* box : { Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit9 })
        pasteGuard->watch(box);

    // Change rules run for every change of the text, the program's own included.
    connect(Edit1, &QLineEdit::textChanged, this, guarded([this] { Edit1Change(); }));
    connect(Edit8, &QLineEdit::textChanged, this, guarded([this] { Edit8Change(); }));
    connect(Edit9, &QLineEdit::textChanged, this, guarded([this] { Edit9Change(); }));
    // The selector's text, not its value. The spin box reports a new value
    // (set by the program, the arrows or typing) with its own textChanged; its
    // line edit reports what the operator types that is no value yet (0, an
    // erased number), which must still refill the boxes. A typed value comes
    // through both, and filling the boxes twice from one row changes nothing.
    connect(SpinEdit1, &QSpinBox::textChanged, this, guarded([this] { SpinEdit1Change(); }));
    if (auto* selectorText = SpinEdit1->findChild<QLineEdit*>())
        connect(selectorText, &QLineEdit::textChanged, this, guarded([this] { SpinEdit1Change(); }));
    // Leaving the selector with a "0" or an erased number in it puts its value
    // back as text without reporting that change: the boxes would still show
    // the "0" (nothing) or association 1 while every key released in them
    // writes the row the selector reads again. Refill them from that row. The
    // boxes start empty and are filled only once the selector's text changes.
    SpinEdit1->setProperty(FilledFromProperty, SpinEdit1->text());
    connect(SpinEdit1, &QAbstractSpinBox::editingFinished, this, guarded([this] {
        if (SpinEdit1->text() != SpinEdit1->property(FilledFromProperty).toString())
            SpinEdit1Change();
    }));

    connect(StringGrid1, &TableGridView::cellSelected, this,
            guarded([this](int column, int row) { StringGrid1Click(column, row); }));
    // clicked() comes after the item view has toggled a check box under the mouse.
    connect(CheckListBox1, &QAbstractItemView::clicked, this, guarded([this] { CheckListBox1Click(); }));

    connect(Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
    connect(Button3, &QPushButton::clicked, this, guarded([this] { Button3Click(); }));
    connect(Button5, &QPushButton::clicked, this, guarded([this] { Button5Click(); }));
    connect(Button6, &QPushButton::clicked, this, guarded([this] { Button6Click(); }));
    connect(Button7, &QPushButton::clicked, this, guarded([this] { Button7Click(); }));
    connect(Button8, &QPushButton::clicked, this, guarded([this] { Button8Click(); }));
    connect(Button9, &QPushButton::clicked, this, guarded([this] { Button9Click(); }));
}

bool TfrmMain::filterEditorKey(QObject* watched, QKeyEvent* event)
{
    if (watched == CheckListBox1) {
        // The space bar toggles the current item and, like a mouse click,
        // writes beep and flash into the header: the grid never disagrees
        // with the check marks the operator has set.
        if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier)
            return false;
        if (QListWidgetItem* item = CheckListBox1->currentItem()) {
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
    if (watched == Edit2)
        Edit2KeyUp();
    else if (watched == Edit3)
        Edit3KeyUp();
    else if (watched == Edit4)
        Edit4KeyUp();
    else if (watched == Edit5)
        Edit5KeyUp();
    else if (watched == Edit6)
        Edit6KeyUp();
}

void TfrmMain::SpinEdit1Change()
{
    fillBoxes(true);
}

void TfrmMain::fillBoxes(bool runRules)
{
    SpinEdit1->setProperty(FilledFromProperty, SpinEdit1->text());
    const editor::BoxFill fill
        = editor::boxesForAssociation(grid_, editor::selectorValue(SpinEdit1->text()), codec::modelOf(grid_));
    // Their change rules write the day type and line back with "*" and "#".
    const QSignalBlocker quietDay(runRules ? nullptr : Edit8);
    const QSignalBlocker quietLine(runRules ? nullptr : Edit9);
    const std::array<QLineEdit*, fields::AssociationFields.size()> boxes{ Edit2, Edit3, Edit5, Edit6, Edit8, Edit9 };
    for (std::size_t i = 0; i < boxes.size(); ++i)
        if (const std::optional<QString>& text = fill[fields::AssociationFields[i]])
            boxes[i]->setText(*text);
}

void TfrmMain::showSentAssociation(int association)
{
    {
        // The spin box and the line edit inside it both report the new text.
        const QSignalBlocker quietSelector(SpinEdit1);
        const QSignalBlocker quietText(SpinEdit1->findChild<QLineEdit*>());
        SpinEdit1->setValue(association);
    }
    const std::array<QLineEdit*, 4> boxes { Edit2, Edit3, Edit5, Edit6 };
    std::array<QString, 4> before;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        before[i] = boxes[i]->text();
    fillBoxes(false);
    // No events are served while a table goes out: what changed is painted
    // now. A box that shows what it showed has nothing new to paint.
    SpinEdit1->repaint();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        if (boxes[i]->text() != before[i])
            boxes[i]->repaint();
}

void TfrmMain::StringGrid1Click(int column, int row)
{
    editor::rewriteRowNumbers(grid_);
    if (row >= 2 && row <= TableGrid::LastDataRow)
        SpinEdit1->setValue(row - 1);
    if (column == 1 && row == 1) {
        selectModel(editor::modelAfterMarkerClick(grid_));
        grid_.setCell(2, 1, '#');
    }
}

void TfrmMain::Button9Click()
{
    for (QLineEdit* box : { Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9 })
        box->clear();
    editor::clearAssociation(grid_, selectedRow(SpinEdit1));
}

void TfrmMain::Edit1Change()
{
    editor::managementChanged(grid_, Edit1->text());
}

void TfrmMain::Edit4KeyUp()
{
    editor::localPrefixReleased(grid_, Edit4->text());
}

void TfrmMain::CheckListBox1Click()
{
    editor::beepFlashClicked(grid_, CheckListBox1->item(0)->checkState() == Qt::Checked,
                             CheckListBox1->item(1)->checkState() == Qt::Checked);
}

void TfrmMain::Edit2KeyUp()
{
    editor::prefixReleased(grid_, selectedRow(SpinEdit1), Edit2->text(), codec::modelOf(grid_));
}

void TfrmMain::Edit3KeyUp()
{
    const editor::CodeResult result = editor::codeReleased(grid_, selectedRow(SpinEdit1), Edit3->text(),
                                                           Edit2->text(), codec::modelOf(grid_));
    if (result.defaults) {
        Edit5->setText(QStringLiteral("0000"));
        Edit6->setText(QStringLiteral("2400"));
    }
}

void TfrmMain::Edit5KeyUp()
{
    const editor::TimeResult result
        = editor::timeReleased(grid_, selectedRow(SpinEdit1), Edit5->text(), editor::StartTimeColumn);
    if (result.clearBox)
        Edit5->clear();
    if (result.beep)
        seams_.beeper->beep();
}

void TfrmMain::Edit6KeyUp()
{
    const editor::TimeResult result
        = editor::timeReleased(grid_, selectedRow(SpinEdit1), Edit6->text(), editor::EndTimeColumn);
    if (result.clearBox)
        Edit6->clear();
    if (result.beep)
        seams_.beeper->beep();
}

void TfrmMain::Edit8Change()
{
    editor::dayTypeChanged(grid_, selectedRow(SpinEdit1), Edit8->text());
}

void TfrmMain::Edit9Change()
{
    editor::lineChanged(grid_, selectedRow(SpinEdit1), Edit9->text());
}

void TfrmMain::Button2Click()
{
    Edit1->setText(editor::nextManagement(Edit1->text()));
}

void TfrmMain::Button3Click()
{
    // Any name the operator typed is kept as it stands until the button is pressed.
    EditDevName->setText(editor::nextPort(EditDevName->text()));
}

void TfrmMain::Button7Click()
{
    if (!Edit2->text().isEmpty()) {
        Edit9->setText(editor::nextLine(Edit9->text()));
        return;
    }
    // A line for an association without a prefix: the association goes.
    seams_.beeper->beep();
    for (QLineEdit* box : { Edit5, Edit6, Edit8, Edit9 })
        box->clear();
    editor::clearAssociation(grid_, selectedRow(SpinEdit1));
}

void TfrmMain::Button8Click()
{
    Edit8->setText(editor::nextDayType(Edit8->text()));
}

void TfrmMain::Button5Click()
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

void TfrmMain::Button6Click()
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
