// The site file's syntax, the outbox's lines and the published message: the
// pure parts of the publishing, on every platform.
#include <gtest/gtest.h>

#include "Config.h"
#include "Message.h"
#include "Outbox.h"
#include "SiteExamples.h"
#include "fakes/TempDir.h"

namespace {

TEST(SiteFile, GoodFilesGiveTheirSettings) {
    const auto r = site::ParseSiteConfig(
        "# a comment\n[broker]\r\nurl = mqtts://broker.example:9883\nuser=st7\n"
        "password_file = /etc/pw\nca_file=/etc/ca.pem\n\n[station]\n; another\nname = front-desk\n"
        "topic_prefix = kennel/chips\n",
        "host");
    ASSERT_TRUE(r.config) << r.error;
    EXPECT_EQ(r.config->host, "broker.example");
    EXPECT_EQ(r.config->port, 9883);
    EXPECT_TRUE(r.config->tls);
    EXPECT_EQ(r.config->user, "st7");
    EXPECT_EQ(r.config->passwordFile, "/etc/pw");
    EXPECT_EQ(r.config->caFile, "/etc/ca.pem");
    EXPECT_EQ(r.config->station, "front-desk");
    EXPECT_EQ(r.config->prefix, "kennel/chips");

    // The defaults: the port of the scheme, the host's name, "chipreader".
    struct Case {
        const char* text;
        const char* host;
        int port;
        bool tls;
        const char* station;
    } cases[] = {
        {"[broker]\nurl = mqtt://10.0.0.5\n", "10.0.0.5", 1883, false, "pc_1"},
        {"[broker]\nurl = mqtts://b.example\n", "b.example", 8883, true, "pc_1"},
        {"[broker]\nurl = mqtt://[::1]:1999/\n", "::1", 1999, false, "pc_1"},
    };
    for (const Case& c : cases) {
        const auto d = site::ParseSiteConfig(c.text, "pc/1");
        ASSERT_TRUE(d.config) << c.text << d.error;
        EXPECT_EQ(d.config->host, c.host);
        EXPECT_EQ(d.config->port, c.port);
        EXPECT_EQ(d.config->tls, c.tls);
        EXPECT_EQ(d.config->station, c.station);
        EXPECT_EQ(d.config->prefix, "chipreader");
    }
}

TEST(SiteFile, TheExamplesParseAsShownWithTheirCommentsAfterTheValues) {
    const struct {
        const char* text;
        const char* got;  // host:port user password station prefix
    } cases[] = {
        {siteexamples::Readme,
         "broker.example:1883 station-7 /etc/chipreader/pw front-desk chipreader"},
        {siteexamples::DataFile, "broker.example:1883   host chipreader"},
        // After a blank a comment, inside a value the value's; the BOM skipped.
        {"\xEF\xBB\xBF[broker]  # b\nurl = mqtt://b:1\t;u\nuser = a;b # c\npassword=p#q  ;\n"
         "[station]\nname = B\xC3\xBCro ; desk\ntopic_prefix = x;y\n",
         "b:1 a;b p#q B\xC3\xBCro x;y"},
    };
    for (const auto& c : cases) {
        const auto r = site::ParseSiteConfig(c.text, "host");
        ASSERT_TRUE(r.config) << r.error << "\n" << c.text;
        const site::SiteConfig& f = *r.config;
        EXPECT_EQ(f.host + ":" + std::to_string(f.port) + " " + f.user + " " + f.password +
                      f.passwordFile + " " + f.station + " " + f.prefix,
                  c.got);
    }
    // A password file as Notepad saves it: "UTF-8 with BOM", CR LF.
    EXPECT_EQ(site::PasswordFromFile("\xEF\xBB\xBFp w\r\nx"), "p w");
}

TEST(SiteFile, AFileThatMakesNoSenseSaysWhereAndWhy) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"[broker]\n", "no url in [broker]"},
        {"url = mqtt://a\n", "line 1: \"url\" comes before any [section]"},
        {"[broker]\nurl = http://a\n", "line 2: the broker's url must begin mqtt:// or mqtts://"},
        {"[broker]\nurl = mqtt://a:0\n",
         "line 2: the broker's port must be a number from 1 to 65535"},
        {"[broker]\nurl = mqtt://a:\n",
         "line 2: the broker's port must be a number from 1 to 65535"},
        {"[broker]\nurl = mqtt://a:1883x\n",
         "line 2: the broker's port must be a number from 1 to 65535"},
        {"[broker]\nurl = mqtt://\n", "line 2: the broker's url names no host"},
        {"[broker]\nurl = mqtt://u@a/x\n", "line 2: the broker's url names no host"},
        {"[broker]\nurl = mqtt://a\nurl = mqtt://b\n", "line 3: \"url\" is given twice"},
        {"[broker]\nbrokr = x\n", "line 2: unknown key \"brokr\" in [broker]"},
        {"[brokers]\n",
         "line 1: unknown section [brokers]: there are [broker], [station], "
         "[typing] and [readings]"},
        {"[broker\n", "line 1: a section's name ends with ]"},
        {"[broker]\nurl\n", "line 2: a line is a [section] or a key = value"},
        {"[broker]\nurl=mqtt://a\n[station]\nname = a/b\n",
         "line 4: the station's name must not be empty nor hold / + #"},
        {"[broker]\nurl=mqtt://a\n[station]\ntopic_prefix = /x\n",
         "line 4: topic_prefix must not be empty, hold + # or // or begin or end with /"},
        {"[station]\ntopic_prefix = $SYS/x\n",
         "line 2: topic_prefix must not begin with $ (the broker's own topics)"},
        {"[station]\nname = B\xFCro\n", "line 2: not UTF-8 (save the file as UTF-8)"},  // ANSI
        {"; \xED\xA0\x80\n", "line 1: not UTF-8 (save the file as UTF-8)"},  // a surrogate
        {"[broker]\nurl=mqtt://a\nuser=u\npassword=p\npassword_file=f\n",
         "password and password_file both given: give one"},
        {"[broker]\nurl=mqtt://a\npassword=p\n", "a password without a user"},
        {"[broker]\nurl=mqtt://a\nca_file=ca.pem\n", "ca_file is for an mqtts:// broker"},
        // The site's typing and readings.
        {"[typing]\nend = return\n", "line 2: end must be enter, tab or none"},
        {"[typing]\nseparator = ,\n", "line 2: separator must be spaces (five) or tab"},
        {"[typing]\ncode = HEX\n", "line 2: code must be hex or decimal"},
        {"[typing]\ncode = decimal\nwidth = 21\n",
         "line 3: width must be a whole number from 1 to 20"},
        {"[typing]\nwidth = 15\n", "width is for code = decimal"},
        {"[typing]\nkey_pause_ms = 4\n",
         "line 2: key_pause_ms must be a whole number from 5 to 200"},
        {"[typing]\nkey_pause_ms = 30ms\n",
         "line 2: key_pause_ms must be a whole number from 5 to 200"},
        {"[typing]\nprefix = N\xC2\xBA\n",
         "line 2: prefix may hold only printable ASCII characters (in double quotes to keep "
         "blanks at its ends)"},
        {"[typing]\nsuffix = \"a\tb\"\n",
         "line 2: suffix may hold only printable ASCII characters (in double quotes to keep "
         "blanks at its ends)"},
        {"[typing]\nprefix = \"ab\" c\n", "line 2: prefix has something after its closing quote"},
        {"[typing]\nprefix = \"ab\n", "line 2: prefix has something after its closing quote"},
        {"[typing]\nsuffix = 123456789012345678901234567890123\n",
         "line 2: suffix is longer than 32 characters"},
        {"[readings]\nrepeat_within_s = -1\n",
         "line 2: repeat_within_s must be a whole number from 0 to 3600"},
        {"[readings]\nend = tab\n", "line 2: unknown key \"end\" in [readings]"},
    };
    for (const auto& c : cases) {
        const auto r = site::ParseSiteConfig(c.text, "host");
        EXPECT_FALSE(r.config) << c.text;
        EXPECT_EQ(r.error, c.error) << c.text;
    }
}

TEST(SiteFile, TypingAndReadingsAloneAreAFileThatPublishesNothing) {
    const auto r = site::ParseSiteConfig(
        "[typing]\nend = tab\nseparator = tab\nprefix = \" ID; \" ; kept blanks\n"
        "suffix = \"#\"\ncode = decimal\nwidth = 15\nkey_pause_ms = 10\n"
        "[readings]\nrepeat_within_s = 3\n",
        "host");
    ASSERT_TRUE(r.config) << r.error;
    EXPECT_FALSE(r.config->broker);
    const TypingRules typing{TypingRules::End::Tab,
                             TypingRules::Separator::Tab,
                             " ID; ",
                             "#",
                             TypingRules::Code::Decimal,
                             15,
                             10};
    EXPECT_EQ(r.config->rules.typing, typing);
    EXPECT_EQ(r.config->rules.repeatWithinS, 3u);
    // No file's rules, an empty file's and a broker's alone are today's.
    for (const char* text : {"", "[broker]\nurl = mqtt://a\n", "[typing]\n[readings]\n"}) {
        const auto d = site::ParseSiteConfig(text, "host");
        ASSERT_TRUE(d.config) << d.error;
        EXPECT_EQ(d.config->rules.typing, TypingRules{});
        EXPECT_EQ(d.config->rules.repeatWithinS, 0u);
        EXPECT_EQ(d.config->broker, std::string_view(text).find("[broker]") == 0);
    }
    // The README's example, as it says.
    const auto readme = site::ParseSiteConfig(siteexamples::ReadmeTyping, "host");
    ASSERT_TRUE(readme.config) << readme.error;
    EXPECT_EQ(readme.config->rules.typing,
              (TypingRules{TypingRules::End::Tab, TypingRules::Separator::Tab, "ID ", ".",
                           TypingRules::Code::Decimal, 15, 30}));
    EXPECT_EQ(readme.config->rules.repeatWithinS, 3u);
    // A refused file that sets the typing says so, wherever the fault.
    EXPECT_TRUE(site::ParseSiteConfig("[broker]\nurl=x\n[typing]\nend=tab\n", "h").setsTyping);
    EXPECT_FALSE(site::ParseSiteConfig("[broker]\nurl=x\n; [typing]\n", "h").setsTyping);
}

TEST(Outbox, WhatWaitsIsWhatWasNotAcknowledgedAndADamagedLineIsDroppedAlone) {
    std::string file = site::RecordLine(7, "{\"order\":1}") + site::RecordLine(8, "{\"order\":2}") +
                       site::AckLine(7) + site::RecordLine(9, "{\"order\":3}");
    // A bit flipped in a record, a line no run writes, and a record cut off
    // by a power cut.
    std::string flipped = site::RecordLine(10, "{\"order\":4}");
    flipped[flipped.size() - 3] = '5';
    file += flipped + "X 3\n" + site::RecordLine(11, "{\"order\":6}").substr(0, 12);
    const site::OutboxContents c = site::ReadOutbox(file);
    ASSERT_EQ(c.waiting.size(), 2u);
    EXPECT_EQ(c.waiting[0].number, 8u);
    EXPECT_EQ(c.waiting[0].message, "{\"order\":2}");
    EXPECT_EQ(c.waiting[1].number, 9u);
    EXPECT_EQ(c.lastNumber, 9u);
    EXPECT_EQ(c.damaged, 3);

    // A message with spaces and bytes of any kind goes through whole.
    const std::string odd = "{\"code\":\"a b \\\"c\\\" \xC3\xA9\"}";
    const auto back = site::ReadOutbox(site::RecordLine(1, odd));
    ASSERT_EQ(back.waiting.size(), 1u);
    EXPECT_EQ(back.waiting[0].message, odd);
    EXPECT_EQ(back.damaged, 0);
}

// On the system's own files: what an earlier run left is read, and the file
// is written anew in its place with what still waits.
TEST(Outbox, AnOutboxLeftByAnEarlierRunIsWrittenAnewWithWhatStillWaits) {
    fakes::TempWorkDir dir;
    const auto path = dir.path() / site::OutboxFileName;
    const std::string waits = site::RecordLine(2, "{\"order\":2}");
    fakes::WriteFile(path, site::RecordLine(1, "{\"order\":1}") + site::AckLine(1) + waits);
    site::Outbox outbox(path);
    site::OutboxContents found;
    ASSERT_EQ(outbox.open(found), platform::Error::None);
    EXPECT_EQ(found.waiting.size(), 1u);
    EXPECT_EQ(fakes::ReadFile(path), waits);
}

TEST(Message, AReadingIsOneJsonObjectWithItsLocalTimeAndOffset) {
    site::PublishedReading r;
    r.order = 4294967295u;
    r.at = {2026, 12, 9, 23, 59, 59, 7, -330};
    r.code = "0A1B2C3D4E5F \"x\"\\\x01\xE9\x80";  // single-byte, as in the log
    r.reader = "V1.2";
    r.port = "COM3";
    EXPECT_EQ(site::ReadingMessage("desk \"1\"", r),
              "{\"station\":\"desk \\\"1\\\"\",\"order\":4294967295,"
              "\"time\":\"2026-12-09T23:59:59.007-05:30\","
              "\"code\":\"0A1B2C3D4E5F \\\"x\\\"\\\\\\u0001\xC3\xA9\xE2\x82\xAC\","
              "\"demo\":false,\"reader\":\"V1.2\",\"port\":\"COM3\"}");
    site::PublishedReading demo;
    demo.order = 1;
    demo.demo = true;
    demo.code = "999";
    demo.at = {2026, 1, 2, 3, 4, 5, 600, 60};
    EXPECT_EQ(site::ReadingMessage("s", demo),
              "{\"station\":\"s\",\"order\":1,\"time\":\"2026-01-02T03:04:05.600+01:00\","
              "\"code\":\"999\",\"demo\":true,\"reader\":null,\"port\":null}");
    // A station's name from a host name may be no UTF-8.
    EXPECT_EQ(site::JsonString("d\xFF"
                               "1"),
              "\"d\\ufffd1\"");
    EXPECT_EQ(site::ReadingTopic("chipreader", "s"), "chipreader/s/reading");
    EXPECT_EQ(site::StateTopic("a/b", "s"), "a/b/s/state");
}

}  // namespace
