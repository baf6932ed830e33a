// SPDX-License-Identifier: GPL-3.0-or-later
// Included first by every source of form/: the window logic is shared by
// windows built on different toolkits and must not lean on any of them. A Qt
// header seen before this one, or Qt's own compile definitions, stop the build.
#pragma once

#if defined(QT_VERSION) || defined(QT_CORE_LIB) || defined(QT_WIDGETS_LIB) || defined(QT_GUI_LIB)
#error "form/ is toolkit-free: no Qt here"
#endif
