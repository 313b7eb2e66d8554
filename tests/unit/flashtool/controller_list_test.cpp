// The controller list: which line stays chosen when the list is read anew.
#include "flashtool/controller_list.h"

#include <gtest/gtest.h>

using hx::flash::KeptChoice;

TEST(KeptChoice, KeepsTheChosenConnectionOrChoosesNothing) {
  const std::vector<hx::flash::ListedController> list = {{1, "Hydrix (11) 1.05", false}, {3, {}, true}};
  EXPECT_EQ(KeptChoice(list, std::nullopt), -1);  // never the first line for the operator
  EXPECT_EQ(KeptChoice(list, 3), 1);              // in its boot loader or its application alike
  EXPECT_EQ(KeptChoice(list, 2), -1);             // it left: nothing, never another unit
  EXPECT_EQ(KeptChoice({}, 1), -1);
}
