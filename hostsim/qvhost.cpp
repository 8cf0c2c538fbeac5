// qvhost: the stand-in host program.
//
//   qvhost [--data DIR] [--log FILE] [--work DIR] load MODULE [COMMAND...]
//   qvhost run SCENARIO.json [--out TRANSCRIPT.json] [--work DIR] [--module FILE] [--shots DIR]
//   qvhost demo [--out DIR]
#include "QvHostLoad.h"
#ifdef QVHOST_WITH_RUN
#include "QvScenario.h"

#include <fstream>
#endif

#include <algorithm>
#include <cstdlib>
#include <map>
#include <cstring>
#include <iostream>

#ifdef QVHOST_WITH_QT
#include <QApplication>
#endif

namespace {

int Usage() {
    std::cerr << "用法：qvhost [--data 目录] [--log 文件] [--work 目录] load 模块 [命令...]\n"
                 "  命令写作 CMD[:PARAM][=DATA]，例如 -1 -3 -10 5\n"
                 "      qvhost run 场景.json [--out 记录.json] [--work 目录] [--module 模块] [--shots 目录]\n"
                 "      qvhost demo [--out 目录]\n";
    return QvLoadUsage;
}

#ifdef QVHOST_WITH_RUN
// Exit codes of `qvhost run`.
enum : int {
    QvRunOk = 0,
    QvRunBadScenario = 2, // the scenario file is missing or malformed
    QvRunNotRun = 3,      // set-up failed: module, database, working folder
    QvRunUnmet = 4,       // the scenario ran; an expectation was not met
};

// Options after the subcommand's first argument: --name value pairs.
bool ReadOptions(int argc, char** argv, int AFirst, std::map<std::string, std::string>& AOptions,
                 std::initializer_list<const char*> AAllowed) {
    for (int i = AFirst; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc || std::find(AAllowed.begin(), AAllowed.end(), name) == AAllowed.end())
            return false;
        AOptions[name] = argv[i + 1];
    }
    return true;
}

int Run(int argc, char** argv, int AFirst, const TQvHostConfig& AConfig) {
    if (AFirst >= argc) return Usage();
    const std::filesystem::path file = argv[AFirst];
    std::map<std::string, std::string> options;
    if (!ReadOptions(argc, argv, AFirst + 1, options, {"--out", "--work", "--module", "--shots"}))
        return Usage();
    TScenario scenario;
    try {
        scenario = LoadScenario(file);
    } catch (const std::exception& e) {
        std::cerr << "错误：" << e.what() << "\n";
        return QvRunBadScenario;
    }
    TScenarioRunOptions o = DefaultRunOptions();
    if (!AConfig.DataFolder.empty()) o.DataFolder = AConfig.DataFolder;
    const std::string out = options.count("--out") ? options["--out"] : std::string();
    std::filesystem::path base =
        out.empty() ? std::filesystem::path("qvhost-run") : std::filesystem::path(out);
    base.replace_extension();
    o.WorkFolder = options.count("--work") ? options["--work"] : base.string() + ".work";
    o.PrintFolder = base.string() + ".prints";
    if (options.count("--shots")) o.ShotFolder = options["--shots"];
    if (options.count("--module")) o.DefaultModule = options["--module"];
    nlohmann::json transcript;
    try {
        transcript = RunScenario(scenario, o);
    } catch (const std::exception& e) {
        std::cerr << "错误：" << e.what() << "\n";
        return QvRunNotRun;
    }
    if (out.empty()) {
        std::cout << transcript.dump(2) << "\n";
    } else {
        std::ofstream f(out, std::ios::binary | std::ios::trunc);
        f << transcript.dump(2) << "\n";
        if (!f) {
            std::cerr << "错误：无法写入记录文件：" << out << "\n";
            return QvRunNotRun;
        }
        PrintTranscript(transcript, std::cout);
        std::cout << "记录：" << out << "\n";
    }
    return transcript.value("ok", false) ? QvRunOk : QvRunUnmet;
}

int Demo(int argc, char** argv, int AFirst) {
    std::map<std::string, std::string> options;
    if (!ReadOptions(argc, argv, AFirst, options, {"--out"})) return Usage();
    const std::string out = options.count("--out") ? options["--out"] : std::string("demo");
    return RunDemo(out, DefaultRunOptions(), std::cout);
}
#endif

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
    const std::string sub = i < argc ? argv[i] : "";
#ifdef QVHOST_WITH_RUN
    if (sub == "run" || sub == "demo") {
        // The host owns the process's QApplication; without a display it runs headless.
        if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QApplication app(argc, argv);
        try {
            return sub == "run" ? Run(argc, argv, i + 1, config) : Demo(argc, argv, i + 1);
        } catch (const std::exception& e) {
            std::cerr << "错误：" << e.what() << "\n";
            return 3;
        }
    }
#endif
    if (i + 1 >= argc || sub != "load") return Usage();
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

    // The host hands the plug-in a connection string to the hospital database stand-in (in
    // memory, from its seed); the plug-in opens it when a statement first runs.
    if (config.ConnectionString.empty()) {
        config.ConnectionMode = 0;
        config.ConnectionString = "Provider=QvHospitalLite;Data Source=:memory:";
#ifdef QV_HOSPITAL_SEED
        config.ConnectionString += ";Seed=" + std::string(QV_HOSPITAL_SEED);
#endif
    }
    try {
        TQvHost host(config);
        return RunLoad(host, module, commands, std::cout);
    } catch (const std::exception& e) {
        std::cerr << "错误：" << e.what() << "\n";
        return QvLoadFailed;
    }
}
