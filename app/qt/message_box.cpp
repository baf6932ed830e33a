// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/message_box.h"

#include <QMessageBox>

#include "form/texts.h"

namespace app {

QString ApplicationTitle() {
    const std::u16string_view title = form::texts::kApplicationTitle;
    return QString::fromUtf16(title.data(), static_cast<qsizetype>(title.size()));
}

void ShowMessage(const QString& text) {
    // No parent: a parented box is centred on its parent, this one on the screen.
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace app
