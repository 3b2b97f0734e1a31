// The page's pure parts (the CSV's quoting and neutralising, a search read
// from the URL, the password check) and the stores' read side, on a SQLite
// file and on a throwaway PostgreSQL.
#include <gtest/gtest.h>

#include <map>

#include "PageFormat.h"
#include "StoreKinds.h"

namespace {

using namespace collect;

TEST(PageCsv, EveryFieldQuotedAndAFormulaNeverRuns) {
    const struct {
        const char* field;
        const char* written;
    } cases[] = {
        {"0A1B", "\"0A1B\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"a,b\r\nc", "\"a,b\r\nc\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "\"'+1\""},
        {"-2+3", "\"'-2+3\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"\tx", "\"'\tx\""},
        {"\rx", "\"'\rx\""},
        {"a=b", "\"a=b\""},
        {"Zürich", "\"Zürich\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(page::CsvField(c.field), c.written) << c.field;
    Reading r;
    r.station = "desk-1";
    r.order = 7;
    r.time = "2026-12-09T14:03:05.120+01:00";
    r.code = "-0A";
    r.port = "COM1";
    EXPECT_EQ(
        page::CsvLine(r),
        "\"desk-1\",\"7\",\"2026-12-09T14:03:05.120+01:00\",\"'-0A\",\"false\",\"\",\"COM1\"\r\n");
}

TEST(PageQuery, ArgumentsReadOrRefused) {
    const struct {
        std::map<std::string, std::string> args;
        std::int64_t defaultLimit;
        const char* expected;  // code|station|from|to|limit, or the error's start
    } cases[] = {
        {{}, 500, "||-|-|500"},
        {{}, 0, "||-|-|0"},
        {{{"code", "a1"}, {"station", "desk 1"}, {"limit", "20"}}, 500, "a1|desk 1|-|-|20"},
        {{{"from", "1000"}, {"to", "2026-12-09T14:03:05.120+01:00"}},
         500,
         "||1000|1796821385120|500"},
        {{{"from", "2026-12-09T13:03:05.120Z"}, {"to", ""}}, 500, "||1796821385120|-|500"},
        {{{"from", "yesterday"}}, 500, "from is not a time"},
        {{{"to", "12x"}}, 500, "to is not a time"},
        {{{"limit", "0"}}, 500, "limit is a whole number"},
        {{{"limit", "100001"}}, 500, "limit is a whole number"},
        {{{"code", "\xFF"}}, 500, "code and station are UTF-8"},
    };
    for (const auto& c : cases) {
        const auto result = page::ParseQuery(
            [&](const char* name) -> std::optional<std::string> {
                const auto it = c.args.find(name);
                return it == c.args.end() ? std::nullopt : std::optional(it->second);
            },
            c.defaultLimit);
        const auto text = [](const std::optional<std::int64_t>& n) {
            return n ? std::to_string(*n) : std::string("-");
        };
        const std::string got = result.query ? result.query->code + "|" + result.query->station +
                                                   "|" + text(result.query->fromMs) + "|" +
                                                   text(result.query->toMs) + "|" +
                                                   std::to_string(result.query->limit)
                                             : result.error;
        EXPECT_EQ(got.substr(0, std::string(c.expected).size()), c.expected);
    }
}

TEST(PagePassword, BasicCredentialsCarryThePassword) {
    const struct {
        const char* header;
        bool matches;
    } cases[] = {
        {"Basic dXNlcjpzZWNyZXQ=", true},                                       // user:secret
        {"Basic OnNlY3JldA==", true},                                           // :secret
        {"basic dXNlcjpzZWNyZXQ=", true},   {"Basic dXNlcjpzZWNyZXQx", false},  // user:secret1
        {"Basic dXNlcjpzZWNyZQ==", false},                                      // user:secre
        {"Basic c2VjcmV0", false},                                              // secret, no colon
        {"Bearer dXNlcjpzZWNyZXQ=", false}, {"Basic dXNlcjpzZWNyZXQ*", false}, {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(page::BasicAuthMatches(c.header, "secret"), c.matches) << c.header;
}

TEST(PageHost, OnlyTheLoopbackNamesWithoutAPassword) {
    const struct {
        const char* host;
        bool loopback;
    } cases[] = {
        {"127.0.0.1:8080", true},
        {"127.0.0.1", true},
        {"127.1.2.3:80", true},
        {"localhost:8080", true},
        {"[::1]:8080", true},
        {"[::1]", true},
        {"evil.example", false},
        {"10.0.0.1:8080", false},
        {"127.0.0.1.evil.example", false},
        {"127.0.0:80", false},
        {"127.0.0.1:x", false},
        {"[::2]:80", false},
        {"", false},
        {"127.0.0.256", false},
        {"localhost.evil", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(page::IsLoopbackHost(c.host), c.loopback) << c.host;
}

using StoreReads = StoreKinds;
STORE_KINDS(StoreReads);

TEST_P(StoreReads, SearchHoursStationsAndTheFeedsIds) {
    const auto opened = open();
    Store& store = *opened;
    EXPECT_EQ(store.lastId(), 0);
    const auto add = [&](const char* station, int order, const char* time, const char* code) {
        Reading r;
        r.station = station;
        r.order = order;
        r.time = time;
        r.instantMs = *InstantOf(time);
        r.code = code;
        store.add(r, 0);
    };
    // Stored out of the order of their times: ids follow the storing.
    add("b", 1, "2026-12-09T10:30:00.000Z", "00AB11");
    add("a", 1, "2026-12-09T09:10:00.000Z", "00ab22");
    add("a", 2, "2026-12-09T10:05:00.000Z", "FF0033");
    add("a", 2, "2026-12-09T10:05:00.000Z", "FF0033");  // a repeat: no id of its own
    store.setState("a", "online", 5);
    store.setState("c", "offline", 6);
    EXPECT_EQ(store.lastId(), 3);

    const auto codes = [](const std::vector<StoredReading>& rows) {
        std::string out;
        for (const auto& r : rows)
            out += std::to_string(r.id) + r.reading.code + " ";
        return out;
    };
    EXPECT_EQ(codes(store.readingsAfter(0, 10)), "100AB11 200ab22 3FF0033 ");
    EXPECT_EQ(codes(store.readingsAfter(1, 1)), "200ab22 ");
    const std::int64_t ten = *InstantOf("2026-12-09T10:00:00.000Z");
    const struct {
        ReadingQuery query;
        const char* rows;  // newest first
    } cases[] = {
        {{}, "100AB11 3FF0033 200ab22 "},
        {{"AB", "", {}, {}, 500}, "100AB11 200ab22 "},
        {{"", "a", {}, {}, 500}, "3FF0033 200ab22 "},
        {{"", "", ten, {}, 500}, "100AB11 3FF0033 "},
        {{"", "", {}, ten, 500}, "200ab22 "},
        {{"", "", {}, {}, 1}, "100AB11 "},
        {{"zz", "", {}, {}, 0}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codes(store.search(c.query)), c.rows);
        std::vector<StoredReading> streamed;
        auto cursor = store.stream(c.query);
        for (StoredReading r; cursor->next(r);)
            streamed.push_back(r);
        EXPECT_EQ(codes(streamed), c.rows);
    }
    std::string hours;
    for (const auto& h : store.hours({}))
        hours += h.station + std::to_string((h.hourMs - ten) / 3600000) + "x" +
                 std::to_string(h.count) + " ";
    EXPECT_EQ(hours, "a-1x1 a0x1 b0x1 ");
    std::string stations;
    for (const auto& s : store.stations())
        stations += s.station + ":" + s.state + ":" + (s.last ? s.last->reading.code : "-") + " ";
    EXPECT_EQ(stations, "a:online:FF0033 b::00AB11 c:offline:- ");

    // An export longer than one batch of PostgreSQL's cursor, counted.
    store.begin();
    for (int order = 0; order < 12000; ++order)
        add("d", order, "2026-12-09T11:00:00.000Z", "0D");
    store.commit();
    std::int64_t exported = 0, last = 0;
    bool newestFirst = true;
    auto cursor = store.stream({"0d", "", {}, {}, 0});
    for (StoredReading r; cursor->next(r); ++exported, last = r.id)
        newestFirst = newestFirst && (last == 0 || r.id < last);
    EXPECT_EQ(exported, 12000);
    EXPECT_TRUE(newestFirst);
    EXPECT_EQ(store.search({"", "d", {}, {}, 3}).size(), 3u);
}

}  // namespace
