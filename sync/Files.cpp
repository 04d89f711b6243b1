#include "sync/Files.h"

#include <fstream>
#include <iterator>

#include "link/Errors.h"
#include "link/PathText.h"

namespace kv {

std::string fileFailureText(FileFailure failure, const std::filesystem::path& path,
                            std::string_view cause) {
    const std::string file = pathText(path);
    std::string text;
    switch (failure) {
        case FileFailure::Open:
            text = "Soubor " + file + " nelze otevřít";
            break;
        case FileFailure::Read:
            text = "Soubor " + file + " nelze přečíst";
            break;
        case FileFailure::Create:
            text = "Soubor " + file + " nelze vytvořit";
            break;
        case FileFailure::Write:
            text = "Do souboru " + file + " nelze zapsat";
            break;
    }
    if (!cause.empty()) text += " (" + std::string(cause) + ")";
    return text + ".";
}

Bytes readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HandlerError(fileFailureText(FileFailure::Open, path));
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw HandlerError(fileFailureText(FileFailure::Read, path));
    return bytes;
}

void writeFileAnew(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw HandlerError(fileFailureText(FileFailure::Create, path));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw HandlerError(fileFailureText(FileFailure::Write, path));
}

}  // namespace kv
