#pragma once
// The corvane API of a test script, and the script's run inside the Lua state:
//   corvane.open([what [, name]]) -> instrument    corvane.step(name, fn) -> passed
//   corvane.check(name, value, low, high [, unit]) -> passed    corvane.fail(reason)
//   corvane.sleep(ms)   corvane.log(...)   corvane.params   corvane.connection
//   instrument:write(s)  :query(s [, ms])  :read([ms])  :expect(pattern [, ms]) -> line, groups...
//   :number(s [, pattern [, ms]]) -> value, line  :set_dtr(on)  :set_rts(on)  :break_(ms)  :close()
//   instrument.name
// print logs as corvane.log does. Failures inside the API are Lua errors that carry the run's exit
// code for them and the script's line ("test.lua:12: amp: no reply within 2000 ms to: FWD?").
//
// Threads: the run's one thread.
#include "script/ScriptError.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

struct lua_State;
namespace re2 {
class RE2;
}
class TestScriptRunner;

class TestScriptApi {
public:
    // How many Lua instructions run between two looks at the run's limits (a signal, --max-seconds).
    static constexpr int HookInstructions = 10000;
    // The pattern number uses when the script gives none: the first number in the reply.
    static constexpr char NumberPattern[] = R"(([-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][-+]?[0-9]+)?))";

    // Installs the API into L, whose extra space then points at this object.
    TestScriptApi(lua_State* L, TestScriptRunner& run);
    ~TestScriptApi();
    TestScriptApi(const TestScriptApi&) = delete;
    TestScriptApi& operator=(const TestScriptApi&) = delete;

    // Compiles the script's text (never a precompiled chunk); false with error as Lua words it,
    // "path:line: message".
    bool Load(const std::string& source, const std::string& path, std::string& error);
    // Runs what Load compiled; the error that ended it, if any.
    std::optional<ScriptError> Run();

    TestScriptRunner& Runner() { return run_; }
    // A pattern compiled once per run; a bad one throws ScriptError with RE2's reason.
    const re2::RE2& Pattern(const std::string& text);

private:
    lua_State* L_;
    TestScriptRunner& run_;
    std::unordered_map<std::string, std::unique_ptr<re2::RE2>> patterns_;
};
