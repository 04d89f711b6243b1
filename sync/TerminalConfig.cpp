#include "sync/TerminalConfig.h"

#include <cstdint>

#include "link/NumberText.h"

namespace kv {

TerminalConfig defaultTerminalConfig() {
    return TerminalConfig{"2", "http://localhost/kordavoweb/", "localhost", "0", "0", "0", "0",
                          "0"};
}

TerminalConfig initialWindowSettings() {
    return TerminalConfig{"", "http://localhost/kordavoweb/", "127.0.0.1", "0", "0", "0", "0", "0"};
}

namespace {

class LineReader {
public:
    explicit LineReader(std::string_view bytes) : m_bytes(bytes.substr(0, bytes.find('\x1A'))) {}

    bool ended() const { return m_pos >= m_bytes.size(); }

    Bytes readLine() {
        if (ended()) return {};
        const std::size_t cr = m_bytes.find('\r', m_pos);
        if (cr == std::string_view::npos) {
            Bytes line(m_bytes.substr(m_pos));
            m_pos = m_bytes.size();
            return line;
        }
        Bytes line(m_bytes.substr(m_pos, cr - m_pos));
        m_pos = cr + 1;
        if (m_pos < m_bytes.size() && m_bytes[m_pos] == '\n') ++m_pos;
        return line;
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

}  // namespace

TerminalConfig parseTerminalConfig(std::string_view fileBytes) {
    LineReader in(fileBytes);
    TerminalConfig c;
    c.port = in.readLine();
    c.adresa = in.readLine();
    c.httphost = in.readLine();
    c.start = in.readLine();
    c.idfirmy = in.readLine();
    c.slowstart = in.ended() ? "0" : in.readLine();
    c.slowcom = in.ended() ? "0" : in.readLine();
    c.cas5min = in.ended() ? "0" : in.readLine();
    return c;
}

Bytes formatTerminalConfig(const TerminalConfig& c) {
    Bytes out;
    for (const Bytes* line : {&c.port, &c.adresa, &c.httphost, &c.start, &c.idfirmy, &c.slowstart,
                              &c.slowcom, &c.cas5min}) {
        out += *line;
        out += "\r\n";
    }
    return out;
}

std::optional<std::int32_t> parseIntegerText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    return parseInt32(text.substr(i), base, negative);
}

int configuredPort(const TerminalConfig& c) {
    return c.port.size() == 1 && c.port[0] >= '1' && c.port[0] <= '4' ? c.port[0] - '0' : 0;
}

}  // namespace kv
