#include "app/Application.h"
#include "tests/gui/FakeSeams.h"

#include <QFile>
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
    if (!folders.isValid())
        return 1;
    for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
        setenv(variable, QFile::encodeName(folders.filePath(QString::fromLatin1(variable))).constData(), 1);
    TApplication app(argc, argv);
    app.setHelpFile(QStringLiteral("Pradix.hlp"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
