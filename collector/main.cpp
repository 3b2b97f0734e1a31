// chipreader-collector CONFIG: every station's readings from the site's
// broker into the store the configuration names, until SIGTERM or SIGINT.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "Collector.h"
#include "CollectorConfig.h"
#include "PageServer.h"
#include "PgStore.h"
#include "SqliteStore.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

int Fail(const std::string& what) {
    std::fprintf(stderr, "chipreader-collector: %s\n", what.c_str());
    return 1;
}

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "host";
}

std::optional<std::string> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: chipreader-collector CONFIG\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const auto text = ReadFile(file);
    if (!text)
        return Fail(file.string() + " cannot be read");
    auto parsed = collect::ParseCollectorConfig(*text, HostName());
    if (!parsed.config)
        return Fail(file.string() + " " + parsed.error);
    collect::CollectorConfig& config = *parsed.config;
    if (!config.passwordFile.empty()) {
        const auto password = ReadFile(config.passwordFile);
        if (!password)
            return Fail("password_file " + config.passwordFile + " cannot be read");
        config.password = password->substr(0, password->find_first_of("\r\n"));
    }
    // Each open page holds a connection: as many as the system lets us.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    struct sigaction action {};
    action.sa_handler = [](int) { stopRequested = 1; };  // no SA_RESTART: the wait ends
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    try {
        // A relative SQLite file is beside the configuration; a URL goes to libpq as it is.
        std::unique_ptr<collect::Store> store;
        if (config.postgres)
            store = std::make_unique<collect::PgStore>(config.store);
        else
            store = std::make_unique<collect::SqliteStore>(
                (file.parent_path() / config.store).string());
        // The page beside the broker's loop: its own threads, the store's
        // reads on connections of their own.
        collect::PageServer page(config, *store);
        collect::Collector collector(config, *store,
                                     [&page](bool reading) { page.stored(reading); });
        collector.run(stopRequested);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}
