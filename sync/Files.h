#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "link/CommandFrame.h"

namespace kv {

// The bridge's small files (terminal.cfg, the chip-number files): read whole, or created anew
// and written whole.  A failure throws HandlerError with a text for the operator.
Bytes readWholeFile(const std::filesystem::path& path);
void writeFileAnew(const std::filesystem::path& path, std::string_view bytes);
// Written whole beside it first, then put in its place: a full disk or a crash leaves the old
// file or the new one, never a part.
void replaceFile(const std::filesystem::path& path, std::string_view bytes);

// What the operator is told when one of the bridge's files fails, UTF-8 for HandlerError; the
// cause, when there is one, goes in parentheses.
enum class FileFailure { open, read, create, write };
std::string fileFailureText(FileFailure failure, const std::filesystem::path& path,
                            std::string_view cause = {});

// The cause of a failed file operation in Czech, from the system's error number; empty for 0.
std::string systemCauseText(int error);

// A C stream on the file, binary, for reading or for writing anew; null when it does not open.
// The path is taken as it is on every platform (the working directory may have a name outside
// the Windows code page).
std::FILE* openBinaryFile(const std::filesystem::path& path, bool write);

// Uložit's clean-up: err*.dat files in the directory (any case), each deleted once; one that
// cannot be deleted is passed over.
void removeErrDatFiles(const std::filesystem::path& dir);

}  // namespace kv
