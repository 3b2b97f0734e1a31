// libmosquitto linked in: the Windows program carries its static build (with
// OpenSSL's), so there is no DLL to open and nothing to leave out.
#include "Mosquitto.h"

namespace site {

const MosquittoLibrary* Mosquitto(std::string& why) {
    static const MosquittoLibrary linked = [] {
        MosquittoLibrary table;
#define CHIPSITE_MOSQUITTO_LINKED(name) table.name = &::name;
        CHIPSITE_MOSQUITTO_FUNCTIONS(CHIPSITE_MOSQUITTO_LINKED)
#undef CHIPSITE_MOSQUITTO_LINKED
        table.mosquitto_lib_init();
        return table;
    }();
    why.clear();
    return &linked;
}

}  // namespace site
