#include "acerto/host/module_loader.h"

#include <dlfcn.h>

#include <filesystem>

#include "acerto/platform/errors.h"

namespace acerto::host {

ScreenModule::~ScreenModule() = default;  // the library stays loaded for the process's life

void ScreenModule::load(const std::string& path) {
    if (handle_) return;
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) throw platform::Error(std::string("Não foi possível carregar o módulo: ") + ::dlerror());
    auto sym = [&](const char* name) {
        void* p = ::dlsym(h, name);
        if (!p) throw platform::Error(std::string("O módulo não exporta ") + name + ".");
        return p;
    };
    cria_ = reinterpret_cast<void (*)()>(sym("CriaAcertoFinal"));
    initialize_ = reinterpret_cast<void (*)()>(sym("Initialize"));
    finalize_ = reinterpret_cast<void (*)()>(sym("Finalize"));
    screen_ = reinterpret_cast<platform::Form* (*)()>(sym("AcertoFinalScreen"));
    cria_rel_ = reinterpret_cast<void (*)()>(::dlsym(h, "CriaRelAcerto"));
    handle_ = h;
}

void ScreenModule::CriaRelAcerto() const {
    if (!cria_rel_) throw platform::Error("O módulo não exporta CriaRelAcerto.");
    cria_rel_();
}

std::string ScreenModule::default_path() {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    for (const char* rel :
         {"../settlement/libqlm01200.so", "../lib/acerto/libqlm01200.so", "../lib/libqlm01200.so", "libqlm01200.so"}) {
        auto p = (self / rel).lexically_normal();
        if (std::filesystem::exists(p)) return p.string();
    }
    return "libqlm01200.so";
}

}  // namespace acerto::host
