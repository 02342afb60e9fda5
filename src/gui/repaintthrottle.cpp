// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "repaintthrottle.h"

#include <QAbstractItemView>
#include <QEvent>

#include <algorithm>

namespace {
constexpr qint64 FrameMs = 16;        // one frame of a 60 Hz screen
constexpr qint64 LongestWaitMs = 100; // the table still changes ten times a second
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
    // Catching up lays out every remaining row, which with 100,000 rows takes a good part of a
    // frame: then frames are spaced so that it takes a fifth of the time at most.
    if (view->updatesEnabled())
        catchUpMs = sinceFrame.elapsed(); // the pass that just ended was the catch-up
    const bool due = sinceFrame.elapsed() >= std::clamp(4 * catchUpMs, FrameMs, LongestWaitMs);
    view->setUpdatesEnabled(due); // enabling schedules a repaint of the whole view
    if (due)
        sinceFrame.restart();
}

bool RepaintThrottle::eventFilter(QObject *, QEvent *event)
{
    // The view's delayed layout runs from a timer; held back between frames, it comes again.
    return event->type() == QEvent::Timer && !view->updatesEnabled();
}
