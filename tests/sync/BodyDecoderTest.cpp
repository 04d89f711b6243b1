// The reply's body: its decoding and whether it ended whole by its own measure.
#include <gtest/gtest.h>

#include "support/Compressed.h"
#include "sync/BodyDecoder.h"

namespace kv {
namespace {

using test::compressed;

TEST(BodyDecoder, DecodesWhatTheRequestOffersAndTellsAStreamCutShort) {
    QByteArray text;
    for (int i = 1; i <= 300; ++i) text += QByteArray::number(i) + "|0800|" + "Novák\n";
    const QByteArray gzip = compressed(text, 16 + MAX_WBITS);
    const QByteArray deflate = compressed(text, MAX_WBITS);
    struct Row {
        const char* what;
        QByteArray coding;
        QByteArray body;
        bool valid;  // every piece decodes
        bool ended;
        QByteArray decoded;
    };
    const Row rows[] = {
        {"plain", "", text, true, true, text},
        {"identity", "Identity", text, true, true, text},
        {"gzip", "gzip", gzip, true, true, text},
        {"two gzip members", "x-gzip", gzip + gzip, true, true, text + text},
        {"zlib deflate", "deflate", deflate, true, true, text},
        {"raw deflate", "deflate", compressed(text, -MAX_WBITS), true, true, text},
        {"gzip cut", "gzip", gzip.left(gzip.size() * 6 / 10), true, false, {}},
        {"deflate cut", "deflate", deflate.left(deflate.size() / 2), true, false, {}},
        // A block of the reserved type right behind the header.
        {"damaged gzip", "gzip", gzip.left(10) + "\xff\xff\xff", false, false, {}},
        {"deflate followed by more", "deflate", deflate + "x", false, true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BodyDecoder decoder(row.coding);
        ASSERT_TRUE(decoder.known());
        QByteArray out;
        bool valid = true;
        // In pieces as the network delivers them.
        for (qsizetype at = 0; at < row.body.size() && valid; at += 700)
            valid = decoder.feed(row.body.mid(at, 700), out);
        EXPECT_EQ(valid, row.valid);
        if (!valid) continue;
        EXPECT_EQ(decoder.ended(), row.ended);
        if (row.ended) {
            EXPECT_EQ(out, row.decoded);
        }
    }
    BodyDecoder br("br");
    EXPECT_FALSE(br.known());
    EXPECT_EQ(br.name(), "br");
}

TEST(BodyDecoder, AReplyIsWholeOnlyByItsOwnEnd) {
    const Framing none;
    const Framing length{600, false};
    const Framing chunked{std::nullopt, true};
    struct Row {
        const char* what;
        BodyEnd end;
        std::string fault;
    };
    const Row rows[] = {
        {"whole", {length, 600, true, false, true, true, true}, ""},
        {"ended by closing", {none, 600, false, true, true, true, true}, ""},
        {"all its length in, then closed", {length, 600, false, true, true, true, true}, ""},
        {"short of its length",
         {length, 100, false, true, true, true, true},
         "odpověď kratší, než server ohlásil (100 z 600 bajtů)"},
        {"short of its length, taken for whole",
         {length, 100, true, false, true, true, true},
         "odpověď kratší, než server ohlásil (100 z 600 bajtů)"},
        {"chunked without its last chunk",
         {chunked, 100, false, true, true, true, true},
         "server ukončil spojení uprostřed odpovědi"},
        {"dropped before the headers",
         {none, 0, false, true, false, false, true},
         "spojení odmítnuto"},
        {"compressed, its length declared as cut",
         {length, 600, true, false, true, true, false},
         "odpověď serveru neúplná: komprimovaný obsah nekončí (600 bajtů)"},
        {"compressed, cut and ended by closing",
         {none, 90, false, true, true, true, false},
         "odpověď serveru neúplná: komprimovaný obsah nekončí (90 bajtů)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(bodyFault(row.end, "spojení odmítnuto"), row.fault);
    }
}

}  // namespace
}  // namespace kv
