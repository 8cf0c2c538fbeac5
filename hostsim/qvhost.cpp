// qvhost: the stand-in host program.
//
//   qvhost [--data DIR] [--log FILE] [--work DIR] load MODULE [COMMAND...]
#include "QvHostLoad.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#ifdef QVHOST_WITH_QT
#include <QApplication>
#endif

namespace {

int Usage() {
    std::cerr << "用法：qvhost [--data 目录] [--log 文件] [--work 目录] load 模块 [命令...]\n"
                 "  命令写作 CMD[:PARAM][=DATA]，例如 -1 -3 -10 5\n";
    return QvLoadUsage;
}

} // namespace

int main(int argc, char** argv) {
    TQvHostConfig config;
    if (const char* data = std::getenv("QV_HOST_DATA"); data && *data) config.DataFolder = data;
#ifdef QV_HOST_DATA_DIR
    else
        config.DataFolder = QV_HOST_DATA_DIR;
#endif

    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (i + 1 >= argc) return Usage();
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--data")
            config.DataFolder = value;
        else if (option == "--log")
            config.LogFile = value;
        else if (option == "--work")
            config.WorkPath = value;
        else
            return Usage();
    }
    if (i + 1 >= argc || std::string(argv[i]) != "load") return Usage();
    const std::string module = argv[i + 1];
    std::vector<TLoadCommand> commands;
    try {
        for (int k = i + 2; k < argc; ++k)
            commands.push_back(ParseLoadCommand(argv[k]));
    } catch (const std::exception& e) {
        std::cerr << "错误：" << e.what() << "\n";
        return Usage();
    }

#ifdef QVHOST_WITH_QT
    // The host owns the process's QApplication; without a display it runs headless.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
#endif

    try {
        TQvHost host(config);
        return RunLoad(host, module, commands, std::cout);
    } catch (const std::exception& e) {
        std::cerr << "错误：" << e.what() << "\n";
        return QvLoadFailed;
    }
}
