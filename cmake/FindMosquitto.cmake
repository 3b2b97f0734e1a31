# The MQTT client library libmosquitto as one target on both systems:
#   find_package(Mosquitto REQUIRED)
#   target_link_libraries(prog PRIVATE Mosquitto::Mosquitto)
# Linux: Debian's shared library through pkg-config (libmosquitto-dev).
# Windows (MinGW-w64): the static library scripts/mosquitto-mingw builds, in
# CHIPREADER_MOSQUITTO_ROOT (default build/deps/mosquitto-2.0.11-TRIPLET of
# the source tree, TRIPLET from the toolchain file), with TLS through the
# static OpenSSL scripts/openssl-mingw builds, in CHIPREADER_OPENSSL_ROOT
# (default build/deps/openssl-TRIPLET). Its users get LIBMOSQUITTO_STATIC and
# link libssl, libcrypto, the Windows libraries OpenSSL uses (crypt32, bcrypt),
# ws2_32 and the threads library after it; the toolchain's -static links
# winpthreads into the program, so no MinGW DLL is needed beside it.
# Sets Mosquitto_FOUND, Mosquitto_VERSION (from mosquitto.h) and
# Mosquitto_INCLUDE_DIR.
include(FindPackageHandleStandardArgs)

if(WIN32)
  set(_mosquitto_default "")
  set(_openssl_default "")
  if(MINGW_TRIPLET)
    set(_mosquitto_default "${PROJECT_SOURCE_DIR}/build/deps/mosquitto-2.0.11-${MINGW_TRIPLET}")
    set(_openssl_default "${PROJECT_SOURCE_DIR}/build/deps/openssl-${MINGW_TRIPLET}")
  endif()
  set(CHIPREADER_OPENSSL_ROOT "${_openssl_default}" CACHE PATH
      "Folder with lib/libssl.a and lib/libcrypto.a (scripts/openssl-mingw)")
  set(CHIPREADER_MOSQUITTO_ROOT "${_mosquitto_default}" CACHE PATH
      "Folder with include/mosquitto.h and lib/libmosquitto.a (scripts/mosquitto-mingw)")
  # Another folder given: searched afresh.
  if(NOT "${CHIPREADER_MOSQUITTO_ROOT};${CHIPREADER_OPENSSL_ROOT}" STREQUAL _Mosquitto_ROOT_SEARCHED)
    unset(Mosquitto_INCLUDE_DIR CACHE)
    unset(Mosquitto_LIBRARY CACHE)
    unset(Mosquitto_SSL_LIBRARY CACHE)
    unset(Mosquitto_CRYPTO_LIBRARY CACHE)
  endif()
  set(_Mosquitto_ROOT_SEARCHED "${CHIPREADER_MOSQUITTO_ROOT};${CHIPREADER_OPENSSL_ROOT}" CACHE INTERNAL "")
  # The folder is a host path, outside the cross-compiler's root: searched as given.
  find_path(Mosquitto_INCLUDE_DIR mosquitto.h PATHS "${CHIPREADER_MOSQUITTO_ROOT}/include"
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(Mosquitto_LIBRARY NAMES libmosquitto.a PATHS "${CHIPREADER_MOSQUITTO_ROOT}/lib"
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(Mosquitto_SSL_LIBRARY NAMES libssl.a PATHS "${CHIPREADER_OPENSSL_ROOT}/lib"
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(Mosquitto_CRYPTO_LIBRARY NAMES libcrypto.a PATHS "${CHIPREADER_OPENSSL_ROOT}/lib"
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  set(_mosquitto_required Mosquitto_LIBRARY Mosquitto_INCLUDE_DIR Mosquitto_SSL_LIBRARY
      Mosquitto_CRYPTO_LIBRARY)
else()
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(PC_Mosquitto QUIET IMPORTED_TARGET libmosquitto)
  endif()
  if(PC_Mosquitto_FOUND)
    find_path(Mosquitto_INCLUDE_DIR mosquitto.h HINTS ${PC_Mosquitto_INCLUDE_DIRS})
    find_library(Mosquitto_LIBRARY NAMES mosquitto HINTS ${PC_Mosquitto_LIBRARY_DIRS})
  endif()
  set(_mosquitto_required Mosquitto_LIBRARY Mosquitto_INCLUDE_DIR PC_Mosquitto_FOUND)
endif()

if(Mosquitto_INCLUDE_DIR AND EXISTS "${Mosquitto_INCLUDE_DIR}/mosquitto.h")
  file(STRINGS "${Mosquitto_INCLUDE_DIR}/mosquitto.h" _mosquitto_lines
       REGEX "^#define LIBMOSQUITTO_(MAJOR|MINOR|REVISION) ")
  set(Mosquitto_VERSION "")
  foreach(_part MAJOR MINOR REVISION)
    string(REGEX MATCH "LIBMOSQUITTO_${_part} ([0-9]+)" _match "${_mosquitto_lines}")
    list(APPEND Mosquitto_VERSION "${CMAKE_MATCH_1}")
  endforeach()
  list(JOIN Mosquitto_VERSION "." Mosquitto_VERSION)
endif()

find_package_handle_standard_args(Mosquitto REQUIRED_VARS ${_mosquitto_required}
                                  VERSION_VAR Mosquitto_VERSION)

if(Mosquitto_FOUND AND NOT TARGET Mosquitto::Mosquitto)
  if(WIN32)
    find_package(Threads REQUIRED)
    add_library(Mosquitto::Mosquitto STATIC IMPORTED)
    set_target_properties(Mosquitto::Mosquitto PROPERTIES
      IMPORTED_LOCATION "${Mosquitto_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${Mosquitto_INCLUDE_DIR}"
      INTERFACE_COMPILE_DEFINITIONS LIBMOSQUITTO_STATIC
      INTERFACE_LINK_LIBRARIES
        "${Mosquitto_SSL_LIBRARY};${Mosquitto_CRYPTO_LIBRARY};crypt32;bcrypt;ws2_32;Threads::Threads")
  else()
    add_library(Mosquitto::Mosquitto INTERFACE IMPORTED)
    target_link_libraries(Mosquitto::Mosquitto INTERFACE PkgConfig::PC_Mosquitto)
  endif()
endif()
mark_as_advanced(Mosquitto_INCLUDE_DIR Mosquitto_LIBRARY Mosquitto_SSL_LIBRARY Mosquitto_CRYPTO_LIBRARY)
