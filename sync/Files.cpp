#include "sync/Files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "link/Errors.h"
#include "link/PathText.h"
#include "sync/DriveC.h"

namespace kv {

std::string fileFailureText(FileFailure failure, const std::filesystem::path& path,
                            std::string_view cause) {
    const std::string file = pathText(path);
    std::string text;
    switch (failure) {
        case FileFailure::open:
            text = "Soubor " + file + " nelze otevřít";
            break;
        case FileFailure::read:
            text = "Soubor " + file + " nelze přečíst";
            break;
        case FileFailure::create:
            text = "Soubor " + file + " nelze vytvořit";
            break;
        case FileFailure::write:
            text = "Do souboru " + file + " nelze zapsat";
            break;
    }
    if (!cause.empty()) text += " (" + std::string(cause) + ")";
    text += ".";
    // The fixed files of drive C: land wherever drive C: is mapped, which may be the wrong place.
    std::error_code ec;
    const auto root = std::filesystem::weakly_canonical(driveCRoot(), ec);
    const auto rel = std::filesystem::weakly_canonical(path, ec).lexically_relative(root);
    for (const char* fixed : {"lastid", "apache/lastid", "zamestnanci", "kategorie"})
        if (!ec && rel == std::filesystem::path(fixed))
            text += " Disk C: je nyní " + pathText(root) +
                    "; jinou složku pro něj nastavíte proměnnou prostředí KVBRIDGE_DRIVE_C.";
    return text;
}

std::string systemCauseText(int error) {
    switch (error) {
        case 0:
            return {};
        case ENOENT:
            return "neexistuje";
        case EACCES:
        case EPERM:
            return "chybí oprávnění";
        case ENOSPC:
            return "disk je plný";
        case EROFS:
            return "disk je jen pro čtení";
        case EISDIR:
            return "je to složka, ne soubor";
        default:
            return std::strerror(error);
    }
}

Bytes readWholeFile(const std::filesystem::path& path) {
    // A folder of that name opens as a stream on some systems and fails only while reading.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw HandlerError(fileFailureText(FileFailure::open, path, systemCauseText(EISDIR)));
    errno = 0;
    std::FILE* file = openBinaryFile(path, false);
    if (file == nullptr)
        throw HandlerError(fileFailureText(FileFailure::open, path, systemCauseText(errno)));
    Bytes bytes;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0)
        throw HandlerError(fileFailureText(FileFailure::read, path, systemCauseText(error)));
    return bytes;
}

void writeFileAnew(const std::filesystem::path& path, std::string_view bytes) {
    errno = 0;
    std::FILE* file = openBinaryFile(path, true);
    if (file == nullptr)
        throw HandlerError(fileFailureText(FileFailure::create, path, systemCauseText(errno)));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int error = written ? 0 : errno;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    if (!written || error != 0)
        throw HandlerError(fileFailureText(FileFailure::write, path, systemCauseText(error)));
}

void replaceFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    try {
        writeFileAnew(temporary, bytes);
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        throw;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw HandlerError(fileFailureText(FileFailure::write, path, systemCauseText(ec.value())));
    }
}

void removeErrDatFiles(const std::filesystem::path& dir) {
    std::error_code ec;
    std::vector<std::filesystem::path> matches;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code kindEc;
        if (it->is_directory(kindEc)) continue;  // files only, whatever a folder is called
        std::string name = it->path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (name.size() >= 7 && name.rfind("err", 0) == 0 &&
            name.compare(name.size() - 4, 4, ".dat") == 0)
            matches.push_back(it->path());
    }
    for (const auto& path : matches) std::filesystem::remove(path, ec);
}

}  // namespace kv
