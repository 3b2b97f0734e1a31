// libmosquitto opened at run time: a program without a site file never maps
// it, nor the OpenSSL it brings.
#include <dlfcn.h>

#include <string>
#include <type_traits>

#include "Mosquitto.h"
#include "SiteTexts.h"

namespace site {

namespace {

// Debian's package of the library, by its soname.
constexpr const char* LibraryFile = "libmosquitto.so.1";

// The file opened and every function of the table looked up: why not, or
// empty.
std::string Load(const char* file, MosquittoLibrary& table) {
    // Kept open for the rest of the run: a station's worker may outlive its End.
    void* library = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = ::dlerror();
        return texts::NoLibrary(file, error ? error : "not found");
    }
    std::string why;
    const auto find = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
        if (function == nullptr && why.empty())
            why = texts::LibraryLacks(file, name);
    };
#define CHIPSITE_MOSQUITTO_FIND(name) find(table.name, #name);
    CHIPSITE_MOSQUITTO_FUNCTIONS(CHIPSITE_MOSQUITTO_FIND)
#undef CHIPSITE_MOSQUITTO_FIND
    if (!why.empty())
        ::dlclose(library);
    return why;
}

}  // namespace

const MosquittoLibrary* Mosquitto(std::string& why) {
    static MosquittoLibrary table;
    static const std::string failure = [] {
        std::string why = Load(LibraryFile, table);
        if (why.empty())
            table.mosquitto_lib_init();
        return why;
    }();
    why = failure;
    return failure.empty() ? &table : nullptr;
}

}  // namespace site
