// GoogleTest entry point for tests that need a QApplication: windows run on Qt's
// offscreen platform unless the caller chose another one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
