#include "run/Console.h"

namespace kv {

// A Unix program has its standard output and error from whoever started it.
void useParentConsole() {}

}  // namespace kv
