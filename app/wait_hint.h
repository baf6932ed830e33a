// SPDX-License-Identifier: GPL-3.0-or-later
// MyNoWaitWnd, the wait box shown while the update downloads: a borderless
// pop-up that stays on top, takes no focus and has no taskbar entry.
//
// It paints both of its texts itself, whenever it is painted, so a box that is
// covered and uncovered during the download still reads right.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace app {

class TWaitHint : public QWidget {
public:
    explicit TWaitHint(QWidget* owner);

    // Shows the box with `caption` at `rect`, top-most and without taking the
    // focus, then waits briefly for the window system to put it on the screen
    // and paints it, so that it is seen before the caller blocks the thread.
    void ActivateHint(const QRect& rect, const QString& caption);
    // A second text, drawn at `at` (box coordinates) in the box's font.
    void DrawMessage(const QPoint& at, const QString& text);
    // Takes the box off the screen and releases its native window; the object
    // stays for the next ActivateHint.
    void ReleaseWindow();

    QString Caption() const { return m_caption; }
    QString Message() const { return m_message; }
    QPoint MessageAt() const { return m_messageAt; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    QString m_message;
    QPoint m_messageAt;
};

// Where the box goes on a virtual screen of `virtualSize` (the bounding size
// of all monitors): 300 x 64 with its top-left corner 100 pixels left of and
// above the middle, moved where it would stick out so that it lies within the
// monitor nearest to that corner.
QRect WaitHintRect(const QSize& virtualSize, const QList<QRect>& monitors);

}  // namespace app
