// In the tests a misuse of the fake HTTP control fails the test that made it.
#include <gtest/gtest.h>

#include "support/FakeHttpControl.h"

namespace kv::test {

void fakeHttpMisuse(const std::string& what) { ADD_FAILURE() << what; }

}  // namespace kv::test
