#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Windows are never shown on a screen during tests.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // However the tests are started, settings, port links, backups and state
    // go to a folder of the run's own: a test must never touch (or prune) the
    // user's files. The simulators the tests start inherit it.
    const QTemporaryDir folders;
    if (!folders.isValid())
        return 1;
    for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
        setenv(variable, QFile::encodeName(folders.filePath(QString::fromLatin1(variable))).constData(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
