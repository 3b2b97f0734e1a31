// chipreader-collector CONFIG: every station's readings from the site's
// broker into the store the configuration names.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "CollectorConfig.h"
#include "SqliteStore.h"

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "chipreader-collector: %s\n", what.c_str());
    return 1;
}

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "host";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: chipreader-collector CONFIG\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Fail(file.string() + " cannot be read");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto parsed = collect::ParseCollectorConfig(text, HostName());
    if (!parsed.config)
        return Fail(file.string() + " " + parsed.error);
    const collect::CollectorConfig& config = *parsed.config;
    if (config.postgres)
        return Fail("a postgresql:// store is not in this build yet");
    // A relative file is beside the configuration.
    const std::filesystem::path store = file.parent_path() / config.store;
    try {
        collect::SqliteStore opened(store.string());
        std::printf("chipreader-collector: store %s ready\n", store.c_str());
    } catch (const collect::StoreError& e) {
        return Fail(e.what());
    }
    return 0;
}
