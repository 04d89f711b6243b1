#pragma once

#include <QLoggingCategory>

// kvbridge.link: the serial line, its bytes in hex at debug level.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
