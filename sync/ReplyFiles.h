#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace kv {

// Copies get.txt into get.tmp with a CR put before every LF that does not already follow a CR,
// so that the line reader can read replies whose lines end in LF alone, and a CR LF stays one
// line end.  Replies of copiedAbove bytes or less (30: they carry nothing for the unit) are not
// copied: get.tmp is left empty.  Returns the size of get.txt; 0 when get.txt cannot be opened.
// Streams: memory does not grow with the reply.  Throws HandlerError when get.tmp cannot be
// written.
std::uint64_t prevedfile(const std::filesystem::path& getTxt, const std::filesystem::path& getTmp,
                         std::uint64_t copiedAbove = 30);

// The reply is a page for a browser (its first byte after blanks is '<'): a login page, a
// proxy's or another site's, never the web application's lines.  False when it cannot be read.
bool htmlPage(const std::filesystem::path& reply);

// Reads a converted reply line by line.  A line ends at CR (an LF right after it belongs to the
// line end); the text ends at the end of the file or at byte 26.  Streams: only the first
// kKeptPerLine bytes of a line are kept, the rest is read to the line end and dropped.
class ReplyLineReader {
public:
    static constexpr std::size_t kKeptPerLine = 512;

    // Throws HandlerError when the file cannot be opened.
    explicit ReplyLineReader(const std::filesystem::path& file);
    ~ReplyLineReader();
    ReplyLineReader(const ReplyLineReader&) = delete;
    ReplyLineReader& operator=(const ReplyLineReader&) = delete;

    // The next line, false at the end of the text.
    bool next(std::string& line);

private:
    // Reads the next piece of the text into the buffer; false at the end of the text.
    bool fill();

    std::FILE* m_file = nullptr;
    std::vector<char> m_buffer;
    std::size_t m_pos = 0;  // the next byte of the buffer to read
    std::size_t m_end = 0;  // the end of the text in the buffer
    bool m_ended = false;   // nothing more is read from the file
};

}  // namespace kv
