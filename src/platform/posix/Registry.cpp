// On POSIX the registry is the file store (FileRegistry.h) in the user's
// configuration folder. The per-machine hive sits beside the per-user one:
// a program here runs for one user, and a shared machine file would need
// rights that user does not have.
#include "platform/FileRegistry.h"
#include "platform/Path.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace vp::platform {

namespace {

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return (value && *value) ? value : nullptr;
}

// $VELLUMPOST_REGISTRY_DIR, else $XDG_CONFIG_HOME/vellumpost, else
// ~/.config/vellumpost, in the native form.
std::string registryFolder() {
    if (const char* folder = environment("VELLUMPOST_REGISTRY_DIR")) return folder;
    if (const char* config = environment("XDG_CONFIG_HOME")) return std::string(config) + "/vellumpost";
    if (const char* home = environment("HOME")) return std::string(home) + "/.config/vellumpost";
    return ".vellumpost";
}

// Creates folder and its missing parents. A failure shows later, when the
// first change cannot be saved.
void createFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        if (slash == std::string::npos) return;
    }
}

} // namespace

Registry& systemRegistry() {
    static FileRegistry registry = [] {
        const std::string folder = registryFolder();
        createFolders(folder);
        const std::string base = fromNativePath(folder);
        return FileRegistry(base + "\\user.reg", base + "\\machine.reg");
    }();
    return registry;
}

} // namespace vp::platform
