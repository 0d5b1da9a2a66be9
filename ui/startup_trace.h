// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PROGREAD_STARTUP_TRACE=1: one line on standard error when the window has first been shown,
// for measuring start-up (scripts/bench). Nothing at all without it.

#include <QWidget>

namespace progread {

void traceWindowShown(QWidget& window);

}  // namespace progread
