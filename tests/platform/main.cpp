// The platform tests need an application object: message targets, socket notifications and
// timers all live on the message loop of this (the GUI) thread.
#include <gtest/gtest.h>

#include "platform/AppInstance.h"

int main(int argc, char** argv) {
    qvl::platform::AppInstance app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
