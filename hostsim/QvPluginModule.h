// A plug-in module loaded by the host: the file, its two exports, and its unloading.
#pragma once

#include "QvHostIntf.h"

#include <string>

class TPluginModule {
public:
    // Loads the module (RTLD_NOW | RTLD_LOCAL) and resolves CreateInstance and
    // ReleaseInstance. Raises Exception with a clear message for a missing file, a file
    // that is not a module and missing exports (the module is unloaded again then).
    explicit TPluginModule(const std::string& AFileName);
    ~TPluginModule();
    TPluginModule(const TPluginModule&) = delete;
    TPluginModule& operator=(const TPluginModule&) = delete;

    // The module's absolute path.
    const std::string& FileName() const { return FFileName; }
    bool Loaded() const { return FHandle != nullptr; }
    TCreateInstanceProc CreateInstance() const { return FCreateInstance; }
    TReleaseInstanceProc ReleaseInstance() const { return FReleaseInstance; }

    // Unloads the module (dlclose); nothing when already unloaded. Every interface the
    // module handed out must be released before. Answers whether the module has left the
    // process: a module with GNU unique symbols stays mapped after dlclose (build plug-in
    // modules with -fno-gnu-unique).
    bool Unload() noexcept;

private:
    std::string FFileName;
    void* FHandle = nullptr;
    TCreateInstanceProc FCreateInstance = nullptr;
    TReleaseInstanceProc FReleaseInstance = nullptr;
};
