#include "link/Cp1250.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace kv {

namespace {

// Unicode of the bytes 0x80..0xFF.  0x81, 0x83, 0x88, 0x90 and 0x98 are undefined in
// Windows-1250; they stand for the control characters of the same number so that any byte the
// unit or the web application sends can be shown and typed back unchanged.
constexpr std::array<char16_t, 128> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

using ReverseEntry = std::pair<char16_t, char>;

// kHigh sorted by code point, for encoding.
const std::array<ReverseEntry, 128>& reverseTable() {
    static const std::array<ReverseEntry, 128> table = [] {
        std::array<ReverseEntry, 128> t{};
        for (std::size_t i = 0; i < kHigh.size(); ++i)
            t[i] = {kHigh[i], static_cast<char>(0x80 + i)};
        std::sort(t.begin(), t.end());
        return t;
    }();
    return table;
}

char encodeUnit(char16_t u) {
    if (u < 0x80) return static_cast<char>(u);
    const auto& table = reverseTable();
    const auto it = std::lower_bound(table.begin(), table.end(), u,
                                     [](const ReverseEntry& e, char16_t v) { return e.first < v; });
    if (it != table.end() && it->first == u) return it->second;
    return '?';
}

}  // namespace

QString fromCp1250(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(QChar(b < 0x80 ? char16_t(b) : kHigh[b - 0x80]));
    }
    return text;
}

std::string toCp1250(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isSurrogate()) {
            // Nothing outside the Basic Multilingual Plane is in the code page: one '?' per
            // character, not per UTF-16 half.
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ++i;
            bytes.push_back('?');
            continue;
        }
        bytes.push_back(encodeUnit(c.unicode()));
    }
    return bytes;
}

std::string cp1250(std::string_view utf8) {
    return toCp1250(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

}  // namespace kv
