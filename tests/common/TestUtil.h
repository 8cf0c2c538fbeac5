// Small helpers shared by the test programs.
#pragma once

#include <exception>
#include <string>

// The message of the error of type E a call raises (empty when it raises none); errors of
// other types pass through.
template <class E = std::exception, class F> std::string RaisedMessage(F&& AFunction) {
    try {
        AFunction();
    } catch (const E& e) {
        return e.what();
    }
    return {};
}
