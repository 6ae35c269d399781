#include "PrivateFolders.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Windows are never shown on a screen during tests.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // However the tests are started, settings, port links, backups and state
    // go to a folder of the run's own; the simulators the tests start inherit it.
    const QTemporaryDir folders;
    if (!testfolders::usePrivateFolders(folders, argc > 0 ? argv[0] : "tests"))
        return 1;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
