// GNOME's input settings, read with GSettings whichever back end the session
// has (dconf on a desktop). GIO is opened when first needed: a machine
// without GNOME needs none of it, and a desktop that has GNOME has GIO.
#include <dlfcn.h>

#include <cstdlib>
#include <sstream>
#include <type_traits>

#include "gnome_input_linux.h"

namespace platform {

namespace {

constexpr const char* Schema = "org.gnome.desktop.input-sources";
// The shell's keymap holds four layouts at most, one of them the added one.
constexpr std::size_t SourcesPerKeymap = 3;

bool GnomeSession() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    std::istringstream list(desktops ? desktops : "");
    for (std::string name; std::getline(list, name, ':');)
        if (name == "GNOME")
            return true;
    return false;
}

}  // namespace

std::optional<unsigned> GnomeLayoutsInUse(const GnomeInputSettings& settings,
                                          unsigned keymapLayouts) {
    for (const std::string& option : settings.xkbOptions)
        if (option.rfind("grp:", 0) == 0)
            return std::nullopt;
    if (settings.sources == 0 || keymapLayouts < 2)
        return std::nullopt;
    // The sources in the keymap: all of them, or the three (or the rest, at
    // the end) around the active one.
    const std::size_t own = keymapLayouts - 1;
    const std::size_t last =
        settings.sources - (settings.sources - 1) / SourcesPerKeymap * SourcesPerKeymap;
    const bool fits = settings.sources <= SourcesPerKeymap ? own == settings.sources
                                                           : own == SourcesPerKeymap || own == last;
    if (!fits)
        return std::nullopt;
    return unsigned(own);
}

// The few GIO calls used, by the types of their C declarations.
struct GnomeInput::Gio {
    void* library = nullptr;
    void* (*schemaSourceDefault)() = nullptr;
    void* (*schemaLookup)(void*, const char*, int) = nullptr;
    int (*schemaHasKey)(void*, const char*) = nullptr;
    void (*schemaUnref)(void*) = nullptr;
    void* (*settingsNewFull)(void*, void*, const char*) = nullptr;
    void* (*getValue)(void*, const char*) = nullptr;
    std::size_t (*variantChildren)(void*) = nullptr;
    void (*variantUnref)(void*) = nullptr;
    char** (*getStrv)(void*, const char*) = nullptr;
    void (*strfreev)(char**) = nullptr;
    void (*objectUnref)(void*) = nullptr;

    // All of them, or false.
    bool open() {
        library = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return false;
        auto get = [this](auto& call, const char* name) {
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name));
            return call != nullptr;
        };
        return get(schemaSourceDefault, "g_settings_schema_source_get_default") &&
               get(schemaLookup, "g_settings_schema_source_lookup") &&
               get(schemaHasKey, "g_settings_schema_has_key") &&
               get(schemaUnref, "g_settings_schema_unref") &&
               get(settingsNewFull, "g_settings_new_full") &&
               get(getValue, "g_settings_get_value") &&
               get(variantChildren, "g_variant_n_children") &&
               get(variantUnref, "g_variant_unref") && get(getStrv, "g_settings_get_strv") &&
               get(strfreev, "g_strfreev") && get(objectUnref, "g_object_unref");
    }
};

GnomeInput::GnomeInput() = default;

GnomeInput::~GnomeInput() {
    if (settings_)
        gio_->objectUnref(settings_);
    // The library stays: GIO is not made to be unloaded.
}

std::optional<GnomeInputSettings> GnomeInput::read() {
    if (!looked_) {
        looked_ = true;
        gio_ = std::make_unique<Gio>();
        void* source = nullptr;
        if (GnomeSession() && gio_->open())
            source = gio_->schemaSourceDefault();
        // Without the schema, GSettings would abort the program.
        void* schema = source ? gio_->schemaLookup(source, Schema, 1) : nullptr;
        if (schema) {
            if (gio_->schemaHasKey(schema, "sources") && gio_->schemaHasKey(schema, "xkb-options"))
                settings_ = gio_->settingsNewFull(schema, nullptr, nullptr);
            gio_->schemaUnref(schema);
        }
    }
    if (!settings_)
        return std::nullopt;
    GnomeInputSettings read;
    void* sources = gio_->getValue(settings_, "sources");
    read.sources = gio_->variantChildren(sources);
    gio_->variantUnref(sources);
    char** options = gio_->getStrv(settings_, "xkb-options");
    for (char** o = options; o && *o; ++o)
        read.xkbOptions.emplace_back(*o);
    gio_->strfreev(options);
    return read;
}

}  // namespace platform
