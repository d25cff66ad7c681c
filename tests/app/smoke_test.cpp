#include <gtest/gtest.h>

TEST(AppSmoke, Builds) { SUCCEED(); }
