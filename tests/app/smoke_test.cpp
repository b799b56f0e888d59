#include <gtest/gtest.h>
#include "app/FileSystem.h"
TEST(Smoke, Runs) { EXPECT_FALSE(FileSystem().FileExists("Z:\\no\\such\\file")); }
