#pragma once

#include <stdexcept>
#include <string>

namespace kv {

// A file or conversion failure that ends the running handler (for the timer: the rest of the
// tick).  The application's general error handler shows its text; the next tick starts afresh.
// The text is UTF-8.
class HandlerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kv
