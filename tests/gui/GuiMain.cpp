#include "app/Application.h"
#include "tests/gui/FakeSeams.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    app.setHelpFile(QStringLiteral("Pradix.hlp"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
