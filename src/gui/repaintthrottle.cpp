// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "repaintthrottle.h"

#include <QAbstractItemView>
#include <QEvent>

#include <algorithm>

namespace {
constexpr qint64 FrameMs = 16;        // one frame of a 60 Hz screen
constexpr qint64 LongestWaitMs = 500; // the table still changes twice a second
constexpr qint64 CatchUpShare = 40;   // catching up takes a fortieth of the time at most
} // namespace

RepaintThrottle::RepaintThrottle(QAbstractItemView *view)
    : view(view)
{
    view->installEventFilter(this);
    view->setUpdatesEnabled(false);
    sinceFrame.start();
}

RepaintThrottle::~RepaintThrottle()
{
    view->removeEventFilter(this);
    view->setUpdatesEnabled(true);
}

void RepaintThrottle::BeforeEvents()
{
    // Catching up lays out every remaining row, which with 100,000 rows takes most of a frame:
    // then frames are spaced so that the moves, not the table, take the time.
    // Until the first catch-up tells its cost, the longest wait is assumed: a walk shorter than
    // that changes the table once, at its end.
    if (view->updatesEnabled())
        catchUpMs = sinceFrame.elapsed(); // the pass that just ended was the catch-up
    const qint64 wait = catchUpMs < 0
                            ? LongestWaitMs
                            : std::clamp(CatchUpShare * catchUpMs, FrameMs, LongestWaitMs);
    const bool due = sinceFrame.elapsed() >= wait;
    view->setUpdatesEnabled(due); // enabling schedules a repaint of the whole view
    if (due)
        sinceFrame.restart();
}

bool RepaintThrottle::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::Timer || view->updatesEnabled() || !view->isVisible() ||
        delivering)
        return false;
    // Between frames the view's timers run as a hidden view's do: its delayed layout waits for
    // the next frame, or for whatever first asks where a row is. Dropped instead, the layout's
    // timer would come again at every pass of the event loop, a good part of each pass.
    delivering = true;
    view->setAttribute(Qt::WA_WState_Visible, false);
    static_cast<QObject *>(view)->event(event);
    view->setAttribute(Qt::WA_WState_Visible, true);
    delivering = false;
    return true;
}
