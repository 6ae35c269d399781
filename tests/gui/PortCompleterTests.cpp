#include "app/PortCompleter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

// The Down key offers every port whatever the box holds; picking one puts its name in the box,
// never the description shown beside it.
TEST(PortCompleter, DownOffersEveryPortAndPickingOneTypesItsNameOnly)
{
    QTemporaryDir top;
    PortRoots roots;
    roots.dev = top.path() + QStringLiteral("/dev");
    roots.sys = top.path() + QStringLiteral("/sys");
    roots.proc = top.path() + QStringLiteral("/proc");
    roots.links = top.path() + QStringLiteral("/links");
    for (const QString& folder : { roots.dev, roots.sys, roots.links })
        ASSERT_TRUE(QDir().mkpath(folder));
    QFile(roots.dev + QStringLiteral("/ttyUSB0")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(roots.dev + QStringLiteral("/ttyUSB0"), roots.links + QStringLiteral("/com3")));

    QLineEdit box;
    box.setText(QStringLiteral("Com2"));
    auto* completer = new PortCompleter(box, roots);
    box.show();
    QApplication::setActiveWindow(&box);
    box.setFocus();

    // An adapter plugged in after the window opened is offered too.
    QFile(roots.dev + QStringLiteral("/ttyACM0")).open(QIODevice::WriteOnly);
    QTest::keyClick(&box, Qt::Key_Down);
    ASSERT_TRUE(completer->popup()->isVisible());
    EXPECT_EQ(completer->completionCount(), 3);

    QTest::keyClick(completer->popup(), Qt::Key_Down);
    QTest::keyClick(completer->popup(), Qt::Key_Down);
    QTest::keyClick(completer->popup(), Qt::Key_Return);
    EXPECT_EQ(box.text(), roots.dev + QStringLiteral("/ttyUSB0"));

    // Still a free text box: a name nobody offers stays as typed.
    box.clear();
    QTest::keyClicks(&box, QStringLiteral("ttyS9"));
    EXPECT_EQ(box.text(), QStringLiteral("ttyS9"));
}
