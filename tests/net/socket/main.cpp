// The engine's tests need an application object: its notification targets, socket notifiers and
// timers all live on the Qt event loop of this (the GUI) thread.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
