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
// UTF-8 text in Windows-1250: the one way a Czech source literal (sources are UTF-8) or a UTF-8
// message reaches a field, a file or the line.
std::string cp1250(std::string_view utf8);

}  // namespace kv
