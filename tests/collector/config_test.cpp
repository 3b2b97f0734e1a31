// The collector's configuration: what a good file gives, and each refusal
// with its line.
#include <gtest/gtest.h>

#include "CollectorConfig.h"

namespace {

TEST(CollectorConfig, GoodFileGivesItsSettings) {
    const auto r = collect::ParseCollectorConfig(
        "\xEF\xBB\xBF# site collector\n[broker]\r\nurl = mqtts://[fd00::5]:9883/\nuser = c1\n"
        "password_file = /etc/pw  ; mode 600\nca_file=/etc/ca.pem\nclient_id = coll-A_1\n"
        "topic_prefix = kennel/chips\n[store]\nurl = postgresql://db1,db2/chips\n"
        "[page]\nlisten = 0.0.0.0:8443\npassword = s3cret#1\n",
        "pc");
    ASSERT_TRUE(r.config) << r.error;
    const auto& c = *r.config;
    EXPECT_EQ(c.host, "fd00::5");
    EXPECT_EQ(c.port, 9883);
    EXPECT_TRUE(c.tls);
    EXPECT_EQ(c.user, "c1");
    EXPECT_EQ(c.passwordFile, "/etc/pw");
    EXPECT_EQ(c.caFile, "/etc/ca.pem");
    EXPECT_EQ(c.clientId, "coll-A_1");
    EXPECT_EQ(c.prefix, "kennel/chips");
    EXPECT_EQ(c.store, "postgresql://db1,db2/chips");
    EXPECT_TRUE(c.postgres);
    EXPECT_EQ(c.listenAddress, "0.0.0.0");
    EXPECT_EQ(c.listenPort, 8443);
    EXPECT_EQ(c.pagePassword, "s3cret#1");

    // The defaults: a SQLite file, the page on loopback without a password,
    // the client named after the host (in the characters a broker takes).
    const auto d =
        collect::ParseCollectorConfig("[broker]\nurl = mqtt://b\n", "a.very.long/host_name");
    ASSERT_TRUE(d.config) << d.error;
    EXPECT_EQ(d.config->port, 1883);
    EXPECT_EQ(d.config->store, "readings.sqlite");
    EXPECT_FALSE(d.config->postgres);
    EXPECT_EQ(d.config->listenAddress, "127.0.0.1");
    EXPECT_EQ(d.config->prefix, "chipreader");
    EXPECT_EQ(d.config->clientId, "collector-a_very_long_h");
}

TEST(CollectorConfig, RefusalsSayTheLineAndWhy) {
    const std::string url = "[broker]\nurl = mqtt://b\n";
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"url = mqtt://b\n", "line 1: \"url\" comes before any [broker], [store] or [page]"},
        {"[brokers]\n",
         "line 1: unknown section [brokers]: there are [broker], [store] and [page]"},
        {"[broker\n", "line 1: a section's name ends with ]"},
        {"[broker]\nurl\n", "line 2: a line is a [section] or a key = value"},
        {"[broker]\nurl = http://b\n", "line 2: the broker's url must begin mqtt:// or mqtts://"},
        {"[broker]\nurl = mqtt://:1883\n", "line 2: the broker's url names no host"},
        {"[broker]\nurl = mqtt://u@b\n",
         "line 2: the broker's url has a path, a user or a query: give only mqtt(s)://host:port"},
        {"[broker]\nurl = mqtt://b:0\n",
         "line 2: the broker's port must be a number from 1 to 65535"},
        {"[broker]\nurl = mqtt://b:\n",
         "line 2: the broker's port must be a number from 1 to 65535"},
        {url + "url = mqtt://c\n", "line 3: \"url\" is given twice"},
        {url + "ca_file =\n", "line 3: ca_file names no file"},
        {url + "client_id = a b\n",
         "line 3: client_id must be 1 to 23 letters, digits, - or _ (what every broker takes)"},
        {url + "topic_prefix = $SYS\n",
         "line 3: topic_prefix must not begin with $ (the broker's own topics)"},
        {url + "topic_prefix = a/+/b\n",
         "line 3: topic_prefix must not be empty, hold + # or // or begin or end with /"},
        {url + "name = x\n", "line 3: unknown key \"name\" in [broker]"},
        {url + "[store]\nurl =\n",
         "line 4: the store's url names nothing: give a SQLite file or a postgresql:// URL"},
        {url + "[page]\nlisten = localhost:80\n",
         "line 4: listen must be address:port, the address an IPv4 one or [IPv6], the port 1 to "
         "65535"},
        {url + "[page]\nlisten = 127.0.0.1\n",
         "line 4: listen must be address:port, the address an IPv4 one or [IPv6], the port 1 to "
         "65535"},
        {url + "[page]\npassword =\n", "line 4: the page's password is empty"},
        {url + "x = \xC0\n", "line 3: not UTF-8 (save the file as UTF-8)"},
        {"[store]\nurl = r.db\n", "no url in [broker]"},
        {url + "user = u\npassword = p\npassword_file = f\n",
         "password and password_file both given: give one"},
        {url + "password = p\n", "a password without a user"},
        {url + "ca_file = c.pem\n", "ca_file is for an mqtts:// broker"},
        {url + "[page]\nlisten = [::]:8080\n",
         "the page listens beyond this machine without a password: give [page] password"},
    };
    for (const auto& c : cases) {
        const auto r = collect::ParseCollectorConfig(c.text, "pc");
        EXPECT_FALSE(r.config) << c.text;
        EXPECT_EQ(r.error, c.error) << c.text;
    }
}

}  // namespace
