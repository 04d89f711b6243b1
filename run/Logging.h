#pragma once

#include <QLoggingCategory>

// kvbridge.run: the run itself: start and end, a second start, termination signals, the log.
Q_DECLARE_LOGGING_CATEGORY(lcRun)
