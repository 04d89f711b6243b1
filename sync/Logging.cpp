#include "sync/Logging.h"

Q_LOGGING_CATEGORY(lcSync, "kvbridge.sync")
