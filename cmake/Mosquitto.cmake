# Mosquitto::Mosquitto, the MQTT client library: from pkg-config on Linux.
# (The Windows half comes with scripts/mosquitto-mingw.)
if(NOT TARGET Mosquitto::Mosquitto)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
  add_library(Mosquitto::Mosquitto ALIAS PkgConfig::MOSQUITTO)
endif()
