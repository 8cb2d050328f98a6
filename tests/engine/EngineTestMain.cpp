#include <QCoreApplication>

#include <gtest/gtest.h>

// The engine queues its notifications to the owner's event loop, so the tests need one.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Named temporaries, so that a partial file left behind would show in the folder; the tool
    // tests run the unnamed way.
    qputenv("CORVA_NAMED_TEMPORARY", "1");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
