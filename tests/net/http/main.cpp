// The HTTP tests run the client inside the message loop, as the installer does.
#include <gtest/gtest.h>

#include "platform/AppInstance.h"

int main(int argc, char** argv) {
    qvl::platform::AppInstance app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
