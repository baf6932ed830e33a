// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one kind of message: modal, titled with the application
// title, the text, no icon, one OK button, centred on the screen.
#pragma once

#include <QString>

namespace app {

// The application title (form::texts::kApplicationTitle): the taskbar's name
// for the program and the title of every message box. The window's own
// caption is a different text.
QString ApplicationTitle();

// Shows the message and returns when the user has closed it.
void ShowMessage(const QString& text);

}  // namespace app
