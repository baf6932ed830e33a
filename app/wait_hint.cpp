// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/wait_hint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWindow>
#include <limits>

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
    const int halfWidth = virtualSize.width() / 2;
    const int halfHeight = virtualSize.height() / 2;
    // 300 x 60 as asked for, shown 4 pixels taller like every hint.
    QRect box(halfWidth - 100, halfHeight - 100, 300, 64);

    const QPoint corner = box.topLeft();
    const QRect* nearest = nullptr;
    long long best = std::numeric_limits<long long>::max();
    for (const QRect& m : monitors) {
        const long long dx = corner.x() < m.left()    ? m.left() - corner.x()
                             : corner.x() > m.right() ? corner.x() - m.right()
                                                      : 0;
        const long long dy = corner.y() < m.top()      ? m.top() - corner.y()
                             : corner.y() > m.bottom() ? corner.y() - m.bottom()
                                                       : 0;
        const long long d = dx * dx + dy * dy;
        if (d < best) {
            best = d;
            nearest = &m;
        }
    }
    if (!nearest) return box;
    const QRect& m = *nearest;
    // Right and bottom edges first, so a box larger than the monitor keeps its
    // top-left corner on it.
    if (box.right() > m.right()) box.moveRight(m.right());
    if (box.bottom() > m.bottom()) box.moveBottom(m.bottom());
    if (box.left() < m.left()) box.moveLeft(m.left());
    if (box.top() < m.top()) box.moveTop(m.top());
    return box;
}

}  // namespace app
