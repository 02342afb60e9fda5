// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QElapsedTimer>
#include <QObject>

class QAbstractItemView;

// Lets a view lay itself out and repaint at most once per screen frame while many rows leave
// it one at a time. Each removal makes the view lay out every remaining row again, at its next
// timer tick or paint, so rows removed between event passes cost the square of their number.
// Events are still processed as often as before; only the view's own layout work waits.
class RepaintThrottle : public QObject
{
public:
    explicit RepaintThrottle(QAbstractItemView *view);
    ~RepaintThrottle() override;

    // Call before each event pass: lets the view catch up when a frame has gone by.
    void BeforeEvents();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemView *view;
    QElapsedTimer sinceFrame;
    qint64 catchUpMs = -1;   // how long the view last took to catch up; -1 before it did
    bool delivering = false; // a timer event is being handed to the view
};
