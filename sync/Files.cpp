#include "sync/Files.h"

#include <fstream>
#include <iterator>

#include "link/Errors.h"
#include "link/PathText.h"

namespace kv {

Bytes readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HandlerError("Soubor " + pathText(path) + " nelze otev\xC5\x99\xC3\xADt.");
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw HandlerError("Soubor " + pathText(path) +
                           " nelze p\xC5\x99\xC3\xAD"
                           "st.");
    return bytes;
}

void writeFileAnew(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw HandlerError("Soubor " + pathText(path) + " nelze vytvo\xC5\x99it.");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw HandlerError("Do souboru " + pathText(path) + " nelze zapsat.");
}

}  // namespace kv
