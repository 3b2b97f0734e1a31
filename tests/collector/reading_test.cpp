// The reading's JSON at the collector: the station's own messages read back
// field for field, times as instants, and what is refused.
#include <gtest/gtest.h>

#include "CollectedReading.h"
#include "Message.h"

namespace {

TEST(CollectedReading, TheStationsMessagesReadBackFieldForField) {
    site::PublishedReading r;
    r.order = 4294967295u;
    r.at = {2026, 12, 9, 14, 3, 5, 120, 60};
    r.code = "0A1B \"\\\x01\xE9";  // a quote, a backslash, a control, é in the program's text
    r.reader = "V1.2";
    r.port = "COM3";
    const auto got = collect::ParseReading(site::ReadingMessage("desk/\xC3\xA9", r));
    EXPECT_FALSE(got.reading);  // the topic's separator is no station's name
    const auto ok = collect::ParseReading(site::ReadingMessage("d\xC3\xA9sk-1", r));
    ASSERT_TRUE(ok.reading) << ok.error;
    EXPECT_EQ(ok.reading->station, "d\xC3\xA9sk-1");
    EXPECT_EQ(ok.reading->order, 4294967295);
    EXPECT_EQ(ok.reading->time, "2026-12-09T14:03:05.120+01:00");
    EXPECT_EQ(ok.reading->instantMs, 1796821385120);  // 13:03:05.120 UTC
    EXPECT_EQ(ok.reading->code, "0A1B \"\\\x01\xC3\xA9");
    EXPECT_FALSE(ok.reading->demo);
    EXPECT_EQ(ok.reading->reader, "V1.2");
    EXPECT_EQ(ok.reading->port, "COM3");

    site::PublishedReading demo;
    demo.demo = true;
    demo.at = {2026, 1, 1, 0, 0, 0, 0, -330};
    const auto d = collect::ParseReading(site::ReadingMessage("d", demo));
    ASSERT_TRUE(d.reading) << d.error;
    EXPECT_TRUE(d.reading->demo);
    EXPECT_FALSE(d.reading->reader);
    EXPECT_FALSE(d.reading->port);
}

TEST(CollectedReading, TimesAreInstants) {
    const struct {
        const char* text;
        long long ms;  // -1: refused
    } cases[] = {
        {"1970-01-01T00:00:00.000+00:00", 0},
        {"1970-01-01T01:00:00.001+01:00", 1},
        {"1969-12-31T19:00:00.000-05:00", 0},
        {"2024-02-29T23:59:59.999Z", 1709251199999},
        {"2026-12-09T18:33:05.120+05:30", 1796821385120},
        {"2023-02-29T00:00:00.000+00:00", -1},
        {"2026-13-01T00:00:00.000+00:00", -1},
        {"2026-12-09T24:00:00.000+00:00", -1},
        {"2026-12-09T14:03:05+01:00", -1},
        {"2026-12-09T14:03:05.120+15:00", -1},
        {"2026-12-09 14:03:05.120+01:00", -1},
        {"2026-12-09T14:03:05.1a0+01:00", -1},
    };
    for (const auto& c : cases) {
        const auto got = collect::InstantOf(c.text);
        EXPECT_EQ(got ? *got : -1, c.ms) << c.text;
    }
}

TEST(CollectedReading, MalformedMessagesAreRefusedWithWhy) {
    const std::string rest = R"(,"time":"2026-12-09T14:03:05.120+01:00","code":"C","demo":false,)"
                             R"("reader":null,"port":null})";
    const auto with = [&](const std::string& head) { return head + rest; };
    const struct {
        std::string json;
        const char* error;
    } cases[] = {
        {"", "not a JSON object"},
        {"[1]", "not a JSON object"},
        {with(R"({"station":"s","order":1,"x":{})"),
         "a value that is not a string, a whole number, true, false or null"},
        {with(R"({"station":"s","order":1.5)"), "a number that is not a whole number of this size"},
        {with(R"({"station":"s","order":01)"), "a number that is not a whole number of this size"},
        {with(R"({"station":"s","order":-1)"),
         "no order, or one that is not a whole number from 0 to 4294967295"},
        {with(R"({"station":"s","order":4294967296)"),
         "no order, or one that is not a whole number from 0 to 4294967295"},
        {with(R"({"station":"s","order":"1")"),
         "no order, or one that is not a whole number from 0 to 4294967295"},
        {with(R"({"station":"","order":1)"), "no station, or one that holds / + # or is empty"},
        {with(R"({"station":"s","station":"t","order":1)"), "\"station\" is given twice"},
        {with(R"({"station":"s\ud800","order":1)"), "half a surrogate pair inside a string"},
        {with(R"({"station":"s\q","order":1)"), "a bad escape inside a string"},
        {with("{\"station\":\"s\n\",\"order\":1"), "a control character inside a string"},
        {with(R"({"station":"s","order":1)") + "x", "something after the object"},
        {with(R"({"station":"s","order":1)").substr(0, 60), "a string without its closing quote"},
        {with(R"({"station":"s" "order":1)"), "the object does not end with }"},
        {R"({"station":"s","order":1,"time":"2026-12-09T14:03:05Z","code":"C","demo":false,)"
         R"("reader":null,"port":null})",
         "no time, or one not like 2026-12-09T14:03:05.120+01:00"},
        {R"({"station":"s","order":1,"time":"2026-12-09T14:03:05.120Z","demo":false,)"
         R"("reader":null,"port":null})",
         "no code, or one that is not a string"},
        {R"({"station":"s","order":1,"time":"2026-12-09T14:03:05.120Z","code":"C","demo":0,)"
         R"("reader":null,"port":null})",
         "no demo, or one that is not true or false"},
        {R"({"station":"s","order":1,"time":"2026-12-09T14:03:05.120Z","code":"C","demo":true,)"
         R"("reader":null})",
         "no reader or port, or one that is not a string or null"},
        {"{\"station\":\"\xC0\"}", "not UTF-8"},
    };
    for (const auto& c : cases) {
        const auto r = collect::ParseReading(c.json);
        EXPECT_FALSE(r.reading) << c.json;
        EXPECT_EQ(r.error, c.error) << c.json;
    }
    // Unknown members are passed over, for a later station's sake.
    EXPECT_TRUE(
        collect::ParseReading(with(R"( { "station" : "s" , "order" : 0 , "new" : "x")")).reading);
}

TEST(CollectedReading, TopicsNameTheStationAndTheKind) {
    const auto r = collect::SplitTopic("a/b", "a/b/desk-1/reading");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->station, "desk-1");
    EXPECT_TRUE(r->reading);
    const auto s = collect::SplitTopic("a/b", "a/b/desk-1/state");
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->reading);
    for (const char* other : {"a/b/desk-1/other", "a/bc/desk-1/state", "a/b//state", "a/b/state",
                              "a/b/x/y/state", "b/desk/reading"})
        EXPECT_FALSE(collect::SplitTopic("a/b", other)) << other;
}

}  // namespace
