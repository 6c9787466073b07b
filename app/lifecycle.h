#pragma once

#include <QLoggingCategory>

// Milestones of a run (windows shown, shut-down steps), quiet unless enabled with
// QT_LOGGING_RULES="qm407.lifecycle.info=true": lets a support session or a test see from
// outside how far a copy of the tool has come.
Q_DECLARE_LOGGING_CATEGORY(lcLifecycle)
