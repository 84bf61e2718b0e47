#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "engine/audio/QueueModules.h"

namespace orvento {
namespace {

namespace fs = std::filesystem;

struct ModuleFile {
    const char* file;
    const char* entry;
    const char* what;
};

constexpr ModuleFile kAacModule{"orvento_queue_aac.so", "orvento_queue_aac_module",
                                "the AAC decoder module"};
constexpr ModuleFile kDeviceModule{"orvento_queue_sdl.so", "orvento_queue_sdl_module",
                                   "the sound device module"};
constexpr ModuleFile kPulseModule{"orvento_queue_pulse.so", "orvento_queue_pulse_module",
                                  "the PulseAudio output module"};

// Guards every load.
std::mutex& loaderMutex() {
    static std::mutex mutex;
    return mutex;
}

// dlerror()'s words for the last failed dl call, or empty. glibc keeps that
// state per thread, and every load runs under loaderMutex() anyway.
std::string takeDlError() {
    const char* text = dlerror();  // NOLINT(concurrency-mt-unsafe)
    return text != nullptr ? text : "";
}

bool isWithin(const fs::path& path, const fs::path& folder) {
    return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first ==
           folder.end();
}

// Where to look, in order (see QueueModules.h).
std::vector<fs::path> searchFolders() {
    std::vector<fs::path> folders;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error).parent_path();
    if (error || program.empty()) {
        return folders;
    }
    folders.push_back((program / ORVENTO_QUEUE_MODULE_RELATIVE_DIR).lexically_normal());
    const fs::path buildRoot = fs::weakly_canonical(ORVENTO_QUEUE_BUILD_ROOT, error);
    if (!error && isWithin(program, buildRoot)) {
        folders.emplace_back(ORVENTO_QUEUE_MODULE_BUILD_DIR);
    }
    return folders;
}

void* openModule(const ModuleFile& module, std::string& path, std::string& error) {
    const std::vector<fs::path> folders = searchFolders();
    if (folders.empty()) {
        error = std::string(module.what) + " " + module.file +
                " cannot be loaded: the running program's folder is unknown";
        return nullptr;
    }
    path.clear();
    std::string looked;
    for (const fs::path& folder : folders) {
        const fs::path candidate = folder / module.file;
        std::error_code ignored;
        if (fs::exists(candidate, ignored)) {
            path = candidate;
            break;
        }
        looked += (looked.empty() ? "" : ", ") + folder.string();
    }
    // A missing file is opened all the same, so that dlerror() says so in its
    // own words.
    const bool found = !path.empty();
    if (!found) {
        path = folders.front() / module.file;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const std::string why = takeDlError();
        error = std::string(module.what) +
                " cannot be loaded: " + (why.empty() ? path + ": unknown error" : why);
        if (!found) {
            error += " (looked in " + looked + ")";
        }
    }
    return handle;
}

template <typename Table>
const Table* load(const ModuleFile& module, std::atomic<const Table*>& loaded, std::string& error) {
    if (const Table* table = loaded.load(std::memory_order_acquire)) {
        return table;
    }
    std::lock_guard lock(loaderMutex());
    if (const Table* table = loaded.load(std::memory_order_acquire)) {
        return table;
    }
    std::string path;
    void* handle = openModule(module, path, error);
    if (handle == nullptr) {
        return nullptr;
    }
    takeDlError();
    void* symbol = dlsym(handle, module.entry);
    const std::string why = symbol == nullptr ? takeDlError() : std::string();
    const Table* table = symbol != nullptr ? std::bit_cast<const Table* (*)()>(symbol)() : nullptr;
    if (table == nullptr) {
        error = std::string(module.what) + " " + path + " has no entry point " + module.entry +
                (why.empty() ? std::string() : ": " + why);
    } else if (table->abi == nullptr || std::strcmp(table->abi, ORVENTO_QUEUE_MODULE_ABI) != 0) {
        error = std::string(module.what) + " " + path +
                " was built from another version of Orvento than this program";
        table = nullptr;
    }
    if (table == nullptr) {
        dlclose(handle);
        return nullptr;
    }
    // The handle stays open for the life of the process.
    loaded.store(table, std::memory_order_release);
    return table;
}

std::atomic<const AacDecoderModule*> aacLoaded{nullptr};
std::atomic<const DeviceOutputModule*> deviceLoaded{nullptr};
std::atomic<const DeviceOutputModule*> pulseLoaded{nullptr};

}  // namespace

const AacDecoderModule* aacDecoderModule(std::string& error) {
    return load(kAacModule, aacLoaded, error);
}

const DeviceOutputModule* deviceOutputModule(std::string& error) {
    return load(kDeviceModule, deviceLoaded, error);
}

const DeviceOutputModule* pulseOutputModule(std::string& error) {
    return load(kPulseModule, pulseLoaded, error);
}

}  // namespace orvento
