// The functions of libmosquitto that the station calls, as one table. On
// Linux the library is opened only when a station starts (mosquitto_posix.cpp),
// so that a program that publishes nothing maps neither it nor the OpenSSL
// behind it; the Windows program has its static build linked in
// (mosquitto_win32.cpp).
#pragma once
#include <mosquitto.h>

#include <string>

namespace site {

// Every function of the table, by its name in the library.
#define CHIPSITE_MOSQUITTO_FUNCTIONS(F)  \
    F(mosquitto_lib_init)                \
    F(mosquitto_new)                     \
    F(mosquitto_destroy)                 \
    F(mosquitto_threaded_set)            \
    F(mosquitto_int_option)              \
    F(mosquitto_will_set)                \
    F(mosquitto_username_pw_set)         \
    F(mosquitto_connect_callback_set)    \
    F(mosquitto_disconnect_callback_set) \
    F(mosquitto_publish_v5_callback_set) \
    F(mosquitto_log_callback_set)        \
    F(mosquitto_tls_set)                 \
    F(mosquitto_connect_async)           \
    F(mosquitto_reconnect_async)         \
    F(mosquitto_loop)                    \
    F(mosquitto_loop_write)              \
    F(mosquitto_publish)                 \
    F(mosquitto_disconnect)              \
    F(mosquitto_strerror)                \
    F(mosquitto_reason_string)           \
    F(mosquitto_connack_string)          \
    F(mosquitto_validate_utf8)           \
    F(mosquitto_pub_topic_check)

struct MosquittoLibrary {
#define CHIPSITE_MOSQUITTO_MEMBER(name) decltype(&::name) name = nullptr;
    CHIPSITE_MOSQUITTO_FUNCTIONS(CHIPSITE_MOSQUITTO_MEMBER)
#undef CHIPSITE_MOSQUITTO_MEMBER
};

// The library, loaded and initialised (mosquitto_lib_init) at the first call
// and kept for the rest of the run. Null when it cannot be had, and why in
// the words of the notices (texts::NoLibrary, texts::LibraryLacks).
const MosquittoLibrary* Mosquitto(std::string& why);

}  // namespace site
