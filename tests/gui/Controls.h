#pragma once

// The windows' controls as tests reach them: by object name, as an operator's
// script or an accessibility tool would, never through the window's members.

#include <QList>
#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class TableGridView;
class TALed;
class QWidget;

// The control of `window` named `name`; a missing control, or one of another
// kind, fails the test that asked for it.
template <typename T>
T* control(const QObject& window, const char* name)
{
    // dynamic_cast: the LED carries no meta-object of its own.
    T* found = dynamic_cast<T*>(window.findChild<QObject*>(QLatin1String(name)));
    if (!found)
        throw std::logic_error(std::string("no control named ") + name + " of the expected kind");
    return found;
}

// Every control of the main window, found once by name.
struct MainControls
{
    explicit MainControls(const QObject& w);

    QLineEdit* EditDevName;
    QPushButton* Button3;
    QPushButton* Button1;
    QPushButton* ButtonReset;
    QPushButton* ButtonTransmit;
    TALed* ALed1;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button10;
    TableGridView* StringGrid1;
    QProgressBar* ProgressBar1;
    QLabel* Label11;
    QLineEdit* Edit1;
    QPushButton* Button2;
    QLineEdit* Edit4;
    QLineEdit* Edit7;
    QListWidget* CheckListBox1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit5;
    QLineEdit* Edit6;
    QPushButton* Button8;
    QLineEdit* Edit8;
    QPushButton* Button7;
    QLineEdit* Edit9;
    QSpinBox* SpinEdit1;
    QPushButton* Button9;
    QMenu* PopupMenu1;
    QAction* Setup1;
    QAction* Model1;

    // The seven controls only the larger model uses.
    QList<QWidget*> modelControls() const;
};

// The address book window's controls.
struct BookControls
{
    explicit BookControls(const QObject& w);

    TableGridView* StringGrid2;
    QLabel* Label9;
};
