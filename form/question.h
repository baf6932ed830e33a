// SPDX-License-Identifier: GPL-3.0-or-later
// How each kind of question is put, so both windows draw the same box: its
// title, its icon, its two buttons and which of them Enter presses. Only the
// Yes button agrees; Cancel, Escape and closing the box do not.
#pragma once

#include <string_view>

#include "form/main_view.h"
#include "form/texts.h"

namespace form {

struct TQuestionBox {
    std::u16string_view Title;
    bool InformationIcon = false;
    bool YesIsDefault = false;
    std::u16string_view Yes = texts::kYesButton;
    std::u16string_view Cancel = texts::kCancelButton;
};

constexpr TQuestionBox QuestionBoxOf(TQuestionKind kind) {
    if (kind == TQuestionKind::Information) return {texts::kUpdateTitle, true, true};
    return {texts::kApplicationTitle, false, false};
}

}  // namespace form
