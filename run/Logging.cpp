#include "run/Logging.h"

Q_LOGGING_CATEGORY(lcRun, "kvbridge.run")
