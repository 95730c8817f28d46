#pragma once
// Loads the screen module (a shared library) and reaches its exported entries by name, as every
// host of the suite does.
#include <string>

#include "acerto/platform/form.h"

namespace acerto::host {

class ScreenModule {
  public:
    ScreenModule() = default;
    ~ScreenModule();
    ScreenModule(const ScreenModule&) = delete;
    ScreenModule& operator=(const ScreenModule&) = delete;

    // Loads the library once; throws platform::Error naming what is missing.
    void load(const std::string& path);
    bool loaded() const { return handle_ != nullptr; }

    void CriaAcertoFinal() const { cria_(); }
    // The report screen's entry; throws platform::Error when the module exports none.
    void CriaRelAcerto() const;
    void Initialize() const { initialize_(); }
    void Finalize() const { finalize_(); }
    // The settlement screen the module holds (null before it is first opened).
    platform::Form* screen() const { return screen_(); }

    // Where the module is looked for when no path is given: beside the running program.
    static std::string default_path();

  private:
    void* handle_ = nullptr;
    void (*cria_)() = nullptr;
    void (*cria_rel_)() = nullptr;  // optional: a module may have no report
    void (*initialize_)() = nullptr;
    void (*finalize_)() = nullptr;
    platform::Form* (*screen_)() = nullptr;
};

}  // namespace acerto::host
