// Small helpers shared by the test programs.
#pragma once

#include <exception>
#include <string>

// The message of the error a call raises (empty when it raises none).
template <class F> std::string RaisedMessage(F&& AFunction) {
    try {
        AFunction();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}
