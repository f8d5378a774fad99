#include "EngineTestSupport.h"

#include <algorithm>

namespace qvl::enginetest {

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return ::testing::AssertionFailure()
           << "got " << actual.size() << " bytes, expected " << expected.size()
           << "; first difference at offset " << (diff.first - actual.begin());
}

}  // namespace qvl::enginetest
