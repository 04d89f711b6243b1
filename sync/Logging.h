#pragma once

#include <QLoggingCategory>

// kvbridge.sync: frames received and sent, web requests and their replies.
Q_DECLARE_LOGGING_CATEGORY(lcSync)
