// The installer's tests on Windows: the window system's application object, then the tests.
#include <gtest/gtest.h>

#include "installer/ViewApplication.h"

int main(int argc, char* argv[]) {
    qvl::ViewApplication app(argc, argv, false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
