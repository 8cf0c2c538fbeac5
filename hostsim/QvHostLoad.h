// `qvhost load MODULE [COMMAND...]`: load a plug-in module through its contract, ask it
// the standard questions, run framework commands, release everything and unload it.
#pragma once

#include "QvHostSim.h"

#include <ostream>
#include <string>
#include <vector>

// One framework command for IQVExtention::Execute, written "CMD[:PARAM][=DATA]"
// (for example "-1", "-10", "5:1", "10000028=ACF01=1").
struct TLoadCommand {
    int32_t Command = 0;
    int32_t Param = 0;
    std::string Data;
};

// Raises Exception for a text that is not a command.
TLoadCommand ParseLoadCommand(const std::string& AText);

enum : int {
    QvLoadOk = 0,
    QvLoadUsage = 1,
    QvLoadFailed = 2,      // the module could not be loaded or lacks its exports
    QvLoadNoExtension = 3, // CreateInstance handed back no extension interface
};

// Runs the whole load against the host, writing a readable account to AOut; returns one of
// the codes above.
int RunLoad(TQvHost& AHost, const std::string& AModule, const std::vector<TLoadCommand>& ACommands,
            std::ostream& AOut);
