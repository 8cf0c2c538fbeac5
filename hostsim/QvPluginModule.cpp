// Loading a plug-in module.
#include "QvPluginModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <utility>

TPluginModule::TPluginModule(const std::string& AFileName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // An absolute path, so dlopen never searches the library path for a bare name.
    FFileName = fs::absolute(fs::path(AFileName), ec).lexically_normal().string();
    if (ec || AFileName.empty()) FFileName = AFileName;
    if (AFileName.empty() || !fs::exists(FFileName, ec)) throw Exception("模块文件不存在：" + AFileName);
    if (!fs::is_regular_file(FFileName, ec)) throw Exception("不是模块文件：" + AFileName);

    dlerror();
    FHandle = dlopen(FFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* why = dlerror();
        throw Exception("无法加载模块" + AFileName + "：" + (why ? why : "不是有效的模块文件"));
    }
    FCreateInstance = reinterpret_cast<TCreateInstanceProc>(dlsym(FHandle, "CreateInstance"));
    FReleaseInstance = reinterpret_cast<TReleaseInstanceProc>(dlsym(FHandle, "ReleaseInstance"));
    if (!FCreateInstance || !FReleaseInstance) {
        std::string missing;
        if (!FCreateInstance) missing = "CreateInstance";
        if (!FReleaseInstance) missing += std::string(missing.empty() ? "" : "、") + "ReleaseInstance";
        Unload();
        throw Exception("模块" + AFileName + "缺少导出函数：" + missing);
    }
}

TPluginModule::~TPluginModule() {
    Unload();
}

bool TPluginModule::Unload() noexcept {
    FCreateInstance = nullptr;
    FReleaseInstance = nullptr;
    if (void* handle = std::exchange(FHandle, nullptr)) dlclose(handle);
    void* still = dlopen(FFileName.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!still) return true;
    dlclose(still);
    return false;
}
