#pragma once

#include <QLoggingCategory>

// kvbridge.app: the program start, the window, the operator's clicks, the service mode.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
