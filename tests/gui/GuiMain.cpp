#include "app/Application.h"
#include "tests/common/PrivateFolders.h"
#include "tests/gui/FakeSeams.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // However the tests are started, settings, port links, backups and the
    // line log go to a folder of the run's own, never the user's.
    const QTemporaryDir folders;
    if (!testfolders::usePrivateFolders(folders, "gui_tests"))
        return 1;
    TApplication app(argc, argv);
    app.setHelpFile(QStringLiteral("Pradix.hlp"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
