#include "sync/ReplyFiles.h"

#include <algorithm>
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
constexpr int kEndOfText = 26;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::FILE* openFile(const std::filesystem::path& path, bool write) {
    return openBinaryFile(path, write);
}

[[noreturn]] void fail(FileFailure what, const std::filesystem::path& path, int error) {
    throw HandlerError(fileFailureText(what, path, systemCauseText(error)));
}

// The line reader ends lines at CR only; replies usually end them with a bare LF.  Copies chunk
// to out with a CR put before every LF that does not already follow one (a CR LF stays CR LF,
// also when the chunk boundary falls between them), run by run between line ends.  out holds
// 2 * chunk.size() bytes.  Returns the bytes written to out.
std::size_t crBeforeLf(std::string_view chunk, bool& afterCr, char* out) {
    const char* from = chunk.data();
    const char* const end = from + chunk.size();
    char* to = out;
    while (from != end) {
        const auto* lf = static_cast<const char*>(std::memchr(from, '\n', std::size_t(end - from)));
        const char* runEnd = lf ? lf : end;
        std::memcpy(to, from, std::size_t(runEnd - from));
        to += runEnd - from;
        if (!lf) break;
        const bool crFirst = lf != chunk.data() ? lf[-1] == '\r' : afterCr;
        if (!crFirst) *to++ = '\r';
        *to++ = '\n';
        from = lf + 1;
    }
    if (!chunk.empty()) afterCr = chunk.back() == '\r';
    return std::size_t(to - out);
}

}  // namespace

std::uint64_t prevedfile(const std::filesystem::path& getTxt, const std::filesystem::path& getTmp,
                         std::uint64_t copiedAbove) {
    FilePtr in(openFile(getTxt, false));
    if (!in) return 0;
    FilePtr out(openFile(getTmp, true));
    if (!out) fail(FileFailure::create, getTmp, errno);

    std::vector<char> buffer(kChunk);
    std::string head;  // the bytes read before the reply is known to be long enough
    std::vector<char> converted(2 * kChunk);
    std::uint64_t size = 0;
    bool copying = false;
    bool afterCr = false;  // the last byte converted so far was a CR
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (got == 0) break;
        size += got;
        std::string_view chunk(buffer.data(), got);
        if (!copying) {
            head.append(chunk);
            if (size <= copiedAbove) continue;
            copying = true;
            chunk = head;
            if (converted.size() < 2 * chunk.size()) converted.resize(2 * chunk.size());
        }
        const std::size_t n = crBeforeLf(chunk, afterCr, converted.data());
        if (std::fwrite(converted.data(), 1, n, out.get()) != n)
            fail(FileFailure::write, getTmp, errno);
    }
    if (std::ferror(in.get())) fail(FileFailure::read, getTxt, errno);
    in.reset();
    if (std::fclose(out.release()) != 0) fail(FileFailure::write, getTmp, errno);
    return size;
}

ReplyLineReader::ReplyLineReader(const std::filesystem::path& file) : m_buffer(kChunk) {
    m_file = openFile(file, false);
    if (!m_file) fail(FileFailure::open, file, errno);
    // The reader keeps its own buffer; the stream's would only add a copy.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
}

ReplyLineReader::~ReplyLineReader() {
    if (m_file) std::fclose(m_file);
}

bool ReplyLineReader::fill() {
    m_pos = m_end = 0;
    if (m_ended) return false;
    m_end = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    if (m_end == 0) {
        m_ended = true;
        return false;
    }
    // Byte 26 ends the text: nothing after it is ever read.
    if (const void* eot = std::memchr(m_buffer.data(), kEndOfText, m_end)) {
        m_end = std::size_t(static_cast<const char*>(eot) - m_buffer.data());
        m_ended = true;
    }
    return m_end != 0;
}

bool ReplyLineReader::next(std::string& line) {
    line.clear();
    if (m_pos == m_end && !fill()) return false;
    for (;;) {
        const char* from = m_buffer.data() + m_pos;
        const std::size_t left = m_end - m_pos;
        const auto* cr = static_cast<const char*>(std::memchr(from, '\r', left));
        const std::size_t run = cr ? std::size_t(cr - from) : left;
        if (line.size() < kKeptPerLine)
            line.append(from, std::min(run, kKeptPerLine - line.size()));
        m_pos += run;
        if (cr) {
            ++m_pos;  // an LF right after the CR belongs to the line end
            if (m_pos == m_end) fill();
            if (m_pos != m_end && m_buffer[m_pos] == '\n') ++m_pos;
            return true;
        }
        if (!fill()) return true;
    }
}

bool htmlPage(const std::filesystem::path& reply) {
    const FilePtr in(openFile(reply, false));
    if (!in) return false;
    for (int c = std::fgetc(in.get()); c != EOF; c = std::fgetc(in.get()))
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return c == '<';
    return false;
}

}  // namespace kv
