#include <QCoreApplication>

#include <gtest/gtest.h>

// The engine queues its notifications to the owner's event loop, so the tests need one.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
