#pragma once

#include <zlib.h>

#include <QByteArray>

namespace kv::test {

// A reply body as a server compresses it.  windowBits 16 + 15: gzip; 15: the zlib stream that
// HTTP calls deflate; -15: raw deflate.
inline QByteArray compressed(const QByteArray& text, int windowBits) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, uLong(text.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return out;
}

}  // namespace kv::test
