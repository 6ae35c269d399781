#pragma once

// However a test runner is started (scripts/test, a plain ctest, by hand from
// the build folder), the files the program keeps for its user go to a folder
// of the run's own: a test must never add backups to the operator's folder
// (whose pruning could then delete the operator's own), write or rotate the
// operator's line log, or put port links where the operator's are. The
// simulators and tools a test starts inherit the folders.
//
// Every runner's main() starts with
//
//   const QTemporaryDir folders;
//   if (!testfolders::usePrivateFolders(folders, "gui_tests"))
//       return 1;
//
// which points the XDG folders into `folders` and then asks the program's own
// code where it would write; a path outside `folders`, or under $HOME, ends
// the runner before any test with a message saying which.

#include "device/LineLog.h"
#include "fleet/FleetStore.h"
#include "tables/TableBackup.h"
#include "serial/CommInt.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace testfolders {

// Every place where the program keeps files of the user's own, as the program
// computes it. A new one joins this list, and every runner then checks it too.
inline QList<QPair<const char*, QString>> userFilePaths()
{
    return {
        { "the backups folder", editor::backupFolder() },
        { "the line log", LineLog::defaultPath() },
        { "the port links", portLinkFolder() },
        { "the fleet store", fleet::defaultStorePath() },
    };
}

inline bool within(const QString& path, const QString& folder)
{
    const QString p = QDir::cleanPath(path);
    const QString f = QDir::cleanPath(folder);
    return f != QStringLiteral("/") && (p == f || p.startsWith(f + QLatin1Char('/')));
}

// $HOME and the home folder the system gives the user (they may differ).
inline QStringList homeFolders()
{
    QStringList homes;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        homes << QFile::decodeName(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        homes << QFile::decodeName(pw->pw_dir);
    return homes;
}

inline bool usePrivateFolders(const QTemporaryDir& folders, const char* runner)
{
    if (!folders.isValid()) {
        std::fprintf(stderr, "%s: no temporary folder for the run's own files\n", runner);
        return false;
    }
    for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
        setenv(variable, QFile::encodeName(folders.filePath(QString::fromLatin1(variable))).constData(), 1);

    bool safe = true;
    for (const auto& [what, path] : userFilePaths()) {
        QString why;
        if (!within(path, folders.path()))
            why = QStringLiteral("outside the run's own folder ") + folders.path();
        for (const QString& home : homeFolders())
            if (within(path, home))
                why = QStringLiteral("under the home folder ") + home;
        if (!why.isEmpty()) {
            std::fprintf(stderr, "%s: STOPPED: %s would be %s, %s: a test would touch the user's files\n", runner,
                         what, QFile::encodeName(path).constData(), why.toLocal8Bit().constData());
            safe = false;
        }
    }
    return safe;
}

} // namespace testfolders
