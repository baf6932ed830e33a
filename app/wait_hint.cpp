// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/wait_hint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWindow>
#include <vector>

#include "form/update_flow.h"

namespace app {

TWaitHint::TWaitHint(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("MyNoWaitWnd"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
}

void TWaitHint::ActivateHint(const QRect& rect, const QString& caption) {
    m_caption = caption;
    m_message.clear();
    setGeometry(rect);
    show();
    raise();
    // The thread blocks in the download right after this: give the window
    // system a moment to map the box (input stays queued), then paint it.
    QElapsedTimer waited;
    waited.start();
    while (!(windowHandle() && windowHandle()->isExposed()) && waited.elapsed() < 300) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    }
    repaint();
}

void TWaitHint::DrawMessage(const QPoint& at, const QString& text) {
    m_messageAt = at;
    m_message = text;
    repaint();
}

void TWaitHint::ReleaseWindow() {
    hide();
    destroy();
}

void TWaitHint::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Shadow));  // the thin border
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const int ascent = QFontMetrics(font()).ascent();
    painter.drawText(QPoint(2, 2 + ascent), m_caption);
    // Text drawn at a point means its cell's top-left corner there, no background.
    if (!m_message.isEmpty()) painter.drawText(m_messageAt + QPoint(0, ascent), m_message);
}

QRect WaitHintRect(const QSize& virtualSize, const QList<QRect>& monitors) {
    std::vector<form::TScreenRect> screens;
    for (const QRect& m : monitors)
        screens.push_back({m.left(), m.top(), m.left() + m.width(), m.top() + m.height()});
    const form::TScreenRect box = form::WaitHintRect(virtualSize.width(), virtualSize.height(), screens);
    return QRect(box.Left, box.Top, box.Right - box.Left, box.Bottom - box.Top);
}

}  // namespace app
