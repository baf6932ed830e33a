// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/message_box.h"

#include <QMessageBox>

namespace app {

void ShowMessage(const QString& text) {
    // No parent: a parented box is centred on its parent, this one on the screen.
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace app
