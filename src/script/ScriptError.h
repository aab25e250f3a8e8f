#pragma once
// What ends a test script's step or run from inside the API: a reply that never came, a lost link,
// a wrong argument. The API functions throw it; the binding turns it into a Lua error that carries
// the code, so a step can record it and the run can end with that code (HeadlessExit).
#include <string>

struct ScriptError {
    int code;
    std::string message;
    bool recorded = false; //!< A step has recorded it already: the reports need not say it again.
};
