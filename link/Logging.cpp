#include "link/Logging.h"

Q_LOGGING_CATEGORY(lcLink, "kvbridge.link")
