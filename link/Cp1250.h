#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kv {

// The window speaks Unicode, the unit, the files and the web application Windows-1250.
// The five byte values that Windows-1250 leaves undefined map to the control characters of the
// same number, so every one of the 256 byte values survives a round trip.
QString fromCp1250(std::string_view bytes);
// Characters outside Windows-1250 become '?'.
std::string toCp1250(const QString& text);

}  // namespace kv
