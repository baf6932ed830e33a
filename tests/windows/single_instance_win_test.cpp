// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows program's single-instance token (the one wWinMain claims): a
// named mutex.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/win32/single_instance.h"

namespace {

TEST(SingleInstanceWin, OnlyTheFirstClaimOfANameHoldsIt) {
    // A name of this test process's own, so runs never meet each other.
    const std::wstring name = L"LumbraTest-" + std::to_wstring(::GetCurrentProcessId());
    EXPECT_FALSE(win32app::IsSingleInstanceHeld(name));
    EXPECT_TRUE(win32app::ClaimSingleInstance(name));
    EXPECT_TRUE(win32app::IsSingleInstanceHeld(name));
    EXPECT_FALSE(win32app::ClaimSingleInstance(name));
    EXPECT_FALSE(win32app::IsSingleInstanceHeld(name + L"-other"));
}

}  // namespace
