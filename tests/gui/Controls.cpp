#include "tests/gui/Controls.h"

#include "widgets/TableGridView.h"
#include "widgets/ALed.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#define FIND(name) name(control<std::remove_pointer_t<decltype(name)>>(w, #name))

MainControls::MainControls(const QObject& w)
    : FIND(EditDevName)
    , FIND(Button3)
    , FIND(Button1)
    , FIND(ButtonReset)
    , FIND(ButtonTransmit)
    , FIND(ALed1)
    , FIND(Button4)
    , FIND(Button5)
    , FIND(Button6)
    , FIND(Button10)
    , FIND(StringGrid1)
    , FIND(ProgressBar1)
    , FIND(Label11)
    , FIND(Edit1)
    , FIND(Button2)
    , FIND(Edit4)
    , FIND(Edit7)
    , FIND(CheckListBox1)
    , FIND(Edit2)
    , FIND(Edit3)
    , FIND(Edit5)
    , FIND(Edit6)
    , FIND(Button8)
    , FIND(Edit8)
    , FIND(Button7)
    , FIND(Edit9)
    , FIND(SpinEdit1)
    , FIND(Button9)
    , FIND(PopupMenu1)
    , FIND(Setup1)
    , FIND(Model1)
{
}

QList<QWidget*> MainControls::modelControls() const
{
    return { Edit5, Edit6, Edit7, Edit8, Edit9, Button7, Button8 };
}

BookControls::BookControls(const QObject& w)
    : FIND(StringGrid2)
    , FIND(Label9)
{
}
