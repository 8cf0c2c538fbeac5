// `qvhost run SCENARIO.json`: a scenario sets up the host (records, library, database,
// components, the user's scripted actions), loads the real plug-in module, runs the
// listed calls and answers a transcript of everything that happened. docs/scenarios.md
// describes both formats.
#pragma once

#include "QvHostComponents.h"
#include "QvHostSim.h"
#include "QvScriptedUser.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One call of a scenario: the command object's Execute or a framework command of the
// package (IQVExtention::Execute).
struct TScenarioCall {
    enum class TKind { Execute, Command };
    TKind Kind = TKind::Execute;
    int32_t Number = 0;
    int32_t Param = 0; // framework commands only
    std::string Text;
    std::vector<TScriptStep> User; // steps added to the script just before the call
};

struct TScenarioComponent {
    std::string Name;
    bool Interface = false; // GetInterfaceComponent instead of GetLibraryComponent
    TScriptedComponentSettings Settings;
};

struct TScenarioDatabase {
    std::optional<std::filesystem::path> Seed; // unset: no seed (the database starts empty)
    std::string Clock;                         // fixed server time; empty: the real clock
    std::vector<std::string> Sql;              // run after the seed, before the module loads
    bool Slave = false;                        // the host offers the connection as read replica
    std::vector<std::string> Watch;            // tables compared before and after
};

struct TScenario {
    std::string Name;
    std::filesystem::path Module; // empty: the built plug-in module
    TQvHostConfig Host;
    std::vector<int32_t> MessageBoxAnswers;
    // The host's message box is shown as a real dialog (class "QvHostMessageBox") that the
    // scripted user answers, instead of taking MessageBoxAnswers.
    bool MessageBoxDialog = false;
    std::optional<TScenarioDatabase> Database;
    std::optional<TQvPrintSettings> Print;   // unset: the host has no "Qv.Print"
    std::optional<TQvSystemSettings> System; // unset: the host has no "QV.System"
    std::vector<TScenarioComponent> Components;
    std::vector<TScriptStep> User;
    std::vector<TScenarioCall> Calls;
    nlohmann::json Expect = nlohmann::json::object(); // JSON pointer into the transcript -> value
};

// Reads a scenario. Raises Exception naming the place of a fault: the JSON parser's line
// and column, or the JSON pointer of the offending value. Relative paths (seed, module)
// are taken from ABaseFolder.
TScenario ParseScenario(const std::string& AText, const std::filesystem::path& ABaseFolder = {});
TScenario LoadScenario(const std::filesystem::path& AFile);

struct TScenarioRunOptions {
    // The host's working folder (the plug-in's clinic log and XML copies land here). It is
    // emptied first when it is a folder an earlier run made; any other non-empty folder
    // is refused.
    std::filesystem::path WorkFolder;
    // Printed reports as text files; screenshots of the windows (empty: none).
    std::filesystem::path PrintFolder;
    std::filesystem::path ShotFolder;
    // The plug-in module when the scenario names none.
    std::filesystem::path DefaultModule;
    // Where the database provider modules are (added to QV_PROVIDER_PATH).
    std::filesystem::path ProviderFolder;
    // The host's data folder (numbered SQL texts, scripts) and the default database seed.
    std::filesystem::path DataFolder;
    std::filesystem::path DefaultSeed;
    // Told a line of progress (what runs now), for a readable account.
    std::function<void(const std::string&)> Progress;
};

// Runs the scenario and answers its transcript. Faults of the set-up (module missing,
// database not opened) raise Exception; what the plug-in does, errors included, goes into
// the transcript. "ok" is false when an expectation was not met.
nlohmann::json RunScenario(const TScenario& AScenario, const TScenarioRunOptions& AOptions);

// The run options the build knows: the built plug-in module, the host's data folder and
// the hospital database seed. AWorkFolder and the output folders are left to the caller.
TScenarioRunOptions DefaultRunOptions();

// A readable account of a transcript (calls, windows, host log, component requests,
// clinic log, files, database changes, expectations).
void PrintTranscript(const nlohmann::json& ATranscript, std::ostream& AOut);

// `qvhost demo`: runs the built-in demonstration scenarios against the hospital database
// stand-in, prints the account of each, and leaves under AOutFolder each transcript
// (<n>-<name>.json), the working folders, printed reports and screenshots of the windows.
// Answers 0 when every scenario ran (whatever the plug-in answered), 1 otherwise.
int RunDemo(const std::filesystem::path& AOutFolder, const TScenarioRunOptions& ADefaults,
            std::ostream& AOut);
