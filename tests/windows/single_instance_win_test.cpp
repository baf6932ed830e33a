// SPDX-License-Identifier: GPL-3.0-or-later
// The window's single-instance token on Windows: a named mutex.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/single_instance.h"

namespace {

TEST(SingleInstanceWin, OnlyTheFirstClaimOfANameHoldsIt) {
    // A name of this test process's own, so runs never meet each other.
    const std::string name = "LumbraTest-" + std::to_string(::GetCurrentProcessId());
    EXPECT_FALSE(app::IsSingleInstanceHeld(name));
    EXPECT_TRUE(app::ClaimSingleInstance(name));
    EXPECT_TRUE(app::IsSingleInstanceHeld(name));
    EXPECT_FALSE(app::ClaimSingleInstance(name));
    EXPECT_FALSE(app::IsSingleInstanceHeld(name + "-other"));
}

}  // namespace
