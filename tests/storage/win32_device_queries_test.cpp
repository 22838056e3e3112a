// What only the Windows storage layer does, run under Wine.

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(Win32DeviceQueriesTest, Placeholder) {}

}  // namespace
}  // namespace quillon
