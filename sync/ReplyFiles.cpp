#include "sync/ReplyFiles.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/Errors.h"
#include "sync/Files.h"

namespace kv {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// A reply this short is taken as no content and is not copied.
constexpr std::uint64_t kNoContentSize = 30;
constexpr int kEndOfText = 26;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::FILE* openFile(const std::filesystem::path& path, bool write) {
    return openBinaryFile(path, write);
}

[[noreturn]] void fail(FileFailure what, const std::filesystem::path& path, int error) {
    throw HandlerError(fileFailureText(what, path, error != 0 ? std::strerror(error) : ""));
}

}  // namespace

std::uint64_t prevedfile(const std::filesystem::path& getTxt, const std::filesystem::path& getTmp) {
    FilePtr in(openFile(getTxt, false));
    if (!in) return 0;
    FilePtr out(openFile(getTmp, true));
    if (!out) fail(FileFailure::Create, getTmp, errno);

    std::vector<char> buffer(kChunk);
    std::string head;  // the bytes read before the reply is known to be long enough
    std::string converted;
    converted.reserve(2 * kChunk);
    std::uint64_t size = 0;
    bool copying = false;
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (got == 0) break;
        size += got;
        std::string_view chunk(buffer.data(), got);
        if (!copying) {
            head.append(chunk);
            if (size <= kNoContentSize) continue;
            copying = true;
            chunk = head;
        }
        // The line reader ends lines at CR only; replies usually end them with a bare LF.
        converted.clear();
        for (char c : chunk) {
            if (c == '\n') converted.push_back('\r');
            converted.push_back(c);
        }
        if (std::fwrite(converted.data(), 1, converted.size(), out.get()) != converted.size())
            fail(FileFailure::Write, getTmp, errno);
    }
    if (std::ferror(in.get())) fail(FileFailure::Read, getTxt, errno);
    in.reset();
    if (std::fclose(out.release()) != 0) fail(FileFailure::Write, getTmp, errno);
    return size;
}

ReplyLineReader::ReplyLineReader(const std::filesystem::path& file) {
    m_file = openFile(file, false);
    if (!m_file) fail(FileFailure::Open, file, errno);
    std::setvbuf(m_file, nullptr, _IOFBF, kChunk);
}

ReplyLineReader::~ReplyLineReader() {
    if (m_file) std::fclose(m_file);
}

int ReplyLineReader::get() {
    if (m_ended) return EOF;
    const int c = std::getc(m_file);
    if (c == EOF || c == kEndOfText) {
        m_ended = true;
        return EOF;
    }
    return c;
}

bool ReplyLineReader::next(std::string& line) {
    line.clear();
    int c = get();
    if (c == EOF) return false;
    for (; c != EOF; c = get()) {
        if (c == '\r') {
            const int after = get();
            if (after != '\n' && after != EOF) std::ungetc(after, m_file);
            break;
        }
        if (line.size() < kKeptPerLine) line.push_back(static_cast<char>(c));
    }
    return true;
}

}  // namespace kv
