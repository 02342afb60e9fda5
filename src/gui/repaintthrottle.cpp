// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "repaintthrottle.h"

#include <QAbstractItemView>
#include <QEvent>

namespace {
constexpr qint64 FrameMs = 16; // one frame of a 60 Hz screen
}

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
    const bool due = sinceFrame.elapsed() >= FrameMs;
    view->setUpdatesEnabled(due); // enabling schedules a repaint of the whole view
    if (due)
        sinceFrame.restart();
}

bool RepaintThrottle::eventFilter(QObject *, QEvent *event)
{
    // The view's delayed layout runs from a timer; held back between frames, it comes again.
    return event->type() == QEvent::Timer && !view->updatesEnabled();
}
