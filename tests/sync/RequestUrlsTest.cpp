#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "sync/RequestUrls.h"

namespace kv {
namespace {

const Bytes kAddress = "http://localhost/kordavoweb/";

RequestSettings settings(Bytes host, std::uint16_t companyId) {
    return RequestSettings{kAddress, std::move(host), companyId};
}

// Bytes 2, 3, ... of a frame, in order.
CommandFrame frameWith(std::uint8_t code, std::initializer_list<int> from2) {
    CommandFrame frame;
    frame[1] = code;
    int n = 2;
    for (int b : from2) frame[n++] = static_cast<std::uint8_t>(b);
    return frame;
}

template <typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

struct TailRow {
    const char* name;
    Bytes host;
    std::uint16_t companyId;
    Bytes tail;
};

class CommonTail : public testing::TestWithParam<TailRow> {};

TEST_P(CommonTail, HostThenCompany) {
    const RequestSettings s = settings(GetParam().host, GetParam().companyId);
    EXPECT_EQ(commonTail(s), GetParam().tail);
    // Every synchronisation request ends with the same tail.
    EXPECT_EQ(pollUrl(s), kAddress + "kvsync.php?prikaz=4" + GetParam().tail);
    EXPECT_EQ(tablesUrl(s), kAddress + "kvsync.php?prikaz=1" + GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommonTail,
    testing::Values(TailRow{"EmptyHostNoCompany", "", 0, ""},
                    TailRow{"LocalhostIsLeftOut", "localhost", 0, ""},
                    TailRow{"UpperCaseLocalhostGoesAsTyped", "LOCALHOST", 0, "&httphost=LOCALHOST"},
                    TailRow{"LeadingBlankIsNotTrimmed", " localhost", 0, "&httphost= localhost"},
                    TailRow{"CompanySevenIsLast", "", 7, "&firma=7"},
                    TailRow{"HostThenCompany", "server", 7, "&httphost=server&firma=7"},
                    TailRow{"LargestCompany", "localhost", 65535, "&firma=65535"},
                    TailRow{"NothingIsEscaped", "a b&c=\xE8", 0, "&httphost=a b&c=\xE8"}),
    rowName<TailRow>);

TEST(RequestUrls, AddressIsUsedAsTypedWithoutSeparator) {
    const RequestSettings s{"http://server/kw", "", 0};
    EXPECT_EQ(pollUrl(s), "http://server/kwkvsync.php?prikaz=4");
}

struct EventRow {
    const char* name;
    CommandFrame frame;
    std::uint16_t companyId;
    Bytes url;
    Bytes stavdatum;
};

class EventUrl : public testing::TestWithParam<EventRow> {};

TEST_P(EventUrl, UrlAndDisplay) {
    const EventRequest request =
        eventUrl(settings("localhost", GetParam().companyId), GetParam().frame);
    EXPECT_EQ(request.url, GetParam().url);
    EXPECT_EQ(request.stavdatum, GetParam().stavdatum);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EventUrl,
    testing::Values(EventRow{"Index258AndDateWithoutLeadingZeros",
                             frameWith(2, {1, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1, 0xEE, 0xEE, 0xEE}),
                             0,
                             kAddress + "kvsync.php?prikaz=2&indexza=258&kod=3&typpr=4&misto=5"
                                        "&datum=2024-3-5%207:4:9",
                             "5.3.2024 7:4:9"},
                    EventRow{"LargestValuesAndCompanyTail",
                             frameWith(2, {255, 255, 255, 255, 255, 23, 59, 59, 31, 12, 255}), 12,
                             kAddress +
                                 "kvsync.php?prikaz=2&indexza=65535&kod=255&typpr=255&misto=255"
                                 "&datum=2255-12-31%2023:59:59&firma=12",
                             "31.12.2255 23:59:59"},
                    EventRow{"AllZero", frameWith(2, {}), 0,
                             kAddress + "kvsync.php?prikaz=2&indexza=0&kod=0&typpr=0&misto=0"
                                        "&datum=2000-0-0%200:0:0",
                             "0.0.2000 0:0:0"}),
    rowName<EventRow>);

class CardEventUrl : public testing::TestWithParam<EventRow> {};

TEST_P(CardEventUrl, UrlAndDisplay) {
    const EventRequest request =
        cardEventUrl(settings("server", GetParam().companyId), GetParam().frame);
    EXPECT_EQ(request.url, GetParam().url);
    EXPECT_EQ(request.stavdatum, GetParam().stavdatum);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CardEventUrl,
    testing::Values(
        EventRow{"CardNumberGoesLastByteFirst",
                 frameWith(5, {1, 2, 3, 4, 5, 6, 10, 11, 12, 7, 4, 9, 5, 3, 24}), 0,
                 kAddress + "kvsync.php?prikaz=6&karta=060504030201&kod=10&typpr=11&misto=12"
                            "&datum=2024-3-5%207:4:9&httphost=server",
                 "5.3.2024 7:4:9"},
        EventRow{"HexDigitsAreUpperCase",
                 frameWith(5, {0xAB, 0xCD, 0xEF, 0x0A, 0x00, 0xFF, 0, 1, 255, 14, 5, 9, 7, 3, 27}),
                 3,
                 kAddress + "kvsync.php?prikaz=6&karta=FF000AEFCDAB&kod=0&typpr=1&misto=255"
                            "&datum=2027-3-7%2014:5:9&httphost=server&firma=3",
                 "7.3.2027 14:5:9"}),
    rowName<EventRow>);

TEST(ClockReportUrl, SixBytesInOrderThenTail) {
    const CommandFrame frame = frameWith(6, {1, 24, 3, 5, 7, 4, 9});
    EXPECT_EQ(clockReportUrl(settings("server", 7), frame),
              kAddress +
                  "kvsync.php?prikaz=7&rok=1&mes=24&den=3&hod=5&min=7&sec=4"
                  "&httphost=server&firma=7");
}

struct RecalcRow {
    const char* name;
    Bytes host;
    std::uint16_t companyId;
    Bytes url;
};

class RecalculationUrl : public testing::TestWithParam<RecalcRow> {};

TEST_P(RecalculationUrl, CompanyFirstThenHost) {
    EXPECT_EQ(recalculationUrl(settings(GetParam().host, GetParam().companyId)), GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecalculationUrl,
    testing::Values(RecalcRow{"CompanyZeroMeansCompanyOne", "localhost", 0,
                              kAddress + "gcalc.php?firma=1"},
                    RecalcRow{"EmptyHostLeftOut", "", 5, kAddress + "gcalc.php?firma=5"},
                    RecalcRow{"Company12AndHost", "server", 12,
                              kAddress + "gcalc.php?firma=12&httphost=server"},
                    RecalcRow{"CompanyZeroWithHost", "LOCALHOST", 0,
                              kAddress + "gcalc.php?firma=1&httphost=LOCALHOST"}),
    rowName<RecalcRow>);

}  // namespace
}  // namespace kv
