#include <gtest/gtest.h>
TEST(x, y) {}
