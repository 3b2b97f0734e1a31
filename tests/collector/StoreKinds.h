// A case run on each store: a SQLite file, and a database on a throwaway
// PostgreSQL; open() opens the store (again).
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "PgServer.h"
#include "PgStore.h"
#include "SqliteStore.h"
#include "fakes/TempDir.h"

class StoreKinds : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            const std::string file = (folder.path() / "readings.sqlite").string();
            open = [file] { return std::make_unique<collect::SqliteStore>(file); };
            return;
        }
        pg = std::make_unique<pgtest::PgServer>();
        ASSERT_EQ(pg->error(), "");
        open = [url = pg->url()] { return std::make_unique<collect::PgStore>(url); };
    }
    fakes::TempFolder folder;
    std::unique_ptr<pgtest::PgServer> pg;
    std::function<std::unique_ptr<collect::Store>()> open;
};

#define STORE_KINDS(suite)                                                     \
    INSTANTIATE_TEST_SUITE_P(, suite, testing::Values("sqlite", "postgresql"), \
                             [](const auto& info) { return info.param; })
