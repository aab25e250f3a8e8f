#include "script/TestScriptApi.h"

#include "batch/HeadlessOptions.h"
#include "log/LogColours.h"
#include "plot/ReplySeries.h"
#include "script/TestInstrument.h"
#include "script/TestScriptRunner.h"
#include "text/Strtools.h"

#include <lua.hpp>
#include <re2/re2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {
constexpr char ErrorType[] = "corvane.error";
constexpr char InstrumentType[] = "corvane.instrument";
// The longest a script may give for one wait: an hour.
constexpr lua_Integer MaxWaitMs = lua_Integer{3600} * 1000;

void PushString(lua_State* L, const std::string& text) {
    lua_pushlstring(L, text.data(), text.size());
}

TestScriptApi& Api(lua_State* L) {
    TestScriptApi* api = *static_cast<TestScriptApi**>(lua_getextraspace(L));
    if (!api) luaL_error(L, "the test run has ended"); // a finalizer as the state closes
    return *api;
}

TestScriptRunner& Runner(lua_State* L) {
    return Api(L).Runner();
}

// --- Errors that carry an exit code ---

// An error of ours: a full userdata, so a script can read it but not change or forge it; the
// message is its user value.
struct ErrorBox {
    int code;
    bool recorded;
};

void PushError(lua_State* L, const ScriptError& error) {
    auto* box = static_cast<ErrorBox*>(lua_newuserdatauv(L, sizeof(ErrorBox), 1));
    box->code = error.code;
    box->recorded = error.recorded;
    lua_pushlstring(L, error.message.data(), error.message.size());
    lua_setiuservalue(L, -2, 1);
    luaL_setmetatable(L, ErrorType);
}

// Raises error as a Lua error, with the script's line in front; level as luaL_where's.
[[noreturn]] void Raise(lua_State* L, ScriptError error, int level) {
    luaL_where(L, level);
    error.message.insert(0, lua_tostring(L, -1));
    lua_pop(L, 1);
    PushError(L, error);
    lua_error(L);
    std::terminate(); // lua_error does not return
}

// What a Lua error value says: one of ours, a text, or the type of anything else. No metamethod
// runs here (a script's __tostring could fail or loop where nothing protects the call).
ScriptError ReadError(lua_State* L, int index) {
    if (const auto* box = static_cast<const ErrorBox*>(luaL_testudata(L, index, ErrorType))) {
        lua_getiuservalue(L, index, 1);
        ScriptError error{box->code, lua_tostring(L, -1) ? lua_tostring(L, -1) : "", box->recorded};
        lua_pop(L, 1);
        return error;
    }
    if (lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER) {
        lua_pushvalue(L, index);
        ScriptError error{ExitScriptError, lua_tostring(L, -1)};
        lua_pop(L, 1);
        return error;
    }
    return {ExitScriptError,
            std::string("the script raised a ") + luaL_typename(L, index) + " value as an error"};
}

// When a measurement was taken, local time.
std::string CheckStamp() {
    std::string stamp = GetDateTimeStamp();
    std::replace(stamp.begin(), stamp.end(), ' ', 'T');
    return stamp;
}

// error.code, error.message and tostring(error), for a script that catches one.
int ErrorIndex(lua_State* L) {
    const ScriptError error = ReadError(L, 1);
    const char* key = luaL_checkstring(L, 2);
    if (std::strcmp(key, "code") == 0) {
        lua_pushinteger(L, error.code);
    } else if (std::strcmp(key, "message") == 0) {
        PushString(L, error.message);
    } else {
        lua_pushnil(L);
    }
    return 1;
}

int ErrorToString(lua_State* L) {
    PushString(L, ReadError(L, 1).message);
    return 1;
}

// The API's C++ side throws ScriptError; it becomes a Lua error here, once the function's own
// objects are gone.
template <int (*Function)(lua_State*)> int Guarded(lua_State* L) {
    std::optional<ScriptError> failure;
    try {
        return Function(L);
    } catch (const ScriptError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = ScriptError{ExitScriptError, error.what()};
    }
    Raise(L, std::move(*failure), 1);
}

// A signal, --max-seconds or a failed output ends even a script that never calls the API. Once
// set, the error is raised at every hook, so a script's pcall cannot hold it.
void LimitHook(lua_State* L, lua_Debug*);
void LimitHook(lua_State* L, lua_Debug*) {
    if (!Runner(L).StopRequested()) return;
    // From now on at every instruction: a loop around pcall runs only a few of its own between
    // two pcalls, and the error must come in one of them.
    lua_sethook(L, LimitHook, LUA_MASKCOUNT, 1);
    std::optional<ScriptError> failure;
    try {
        Runner(L).CheckLimits();
        return;
    } catch (const ScriptError& error) {
        failure = error;
    }
    Raise(L, std::move(*failure), 0);
}

// xpcall's handler runs with the hook off: once the run is to end, the error passes it unchanged,
// so a handler that loops cannot hold the run.
int StoppableHandler(lua_State* L) {
    if (Runner(L).StopRequested()) return 1;
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

int StoppableXpcall(lua_State* L) {
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_pushvalue(L, 2);
    lua_pushcclosure(L, StoppableHandler, 1);
    lua_replace(L, 2);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// Finalizers run with the hook off, also as the state closes after the run: a script may not
// have them, so none can hold the run.
int SetMetatableWithoutFinalizer(lua_State* L) {
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_getfield(L, 2, "__gc");
        const bool finalizer = !lua_isnil(L, -1);
        lua_pop(L, 1);
        if (finalizer) return luaL_error(L, "finalizers (__gc) are not available to test scripts");
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

void Wrap(lua_State* L, const char* name, lua_CFunction wrapper) {
    lua_getglobal(L, name);
    lua_pushcclosure(L, wrapper, 1);
    lua_setglobal(L, name);
}

// An error no call protects: said on the error stream, and the run ends with a script error.
int Panic(lua_State* L) {
    const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "an error outside the script";
    std::fprintf(stderr, "corvane: %s\n", text);
    std::_Exit(ExitScriptError);
}

uint32_t WaitArgument(lua_State* L, int index) {
    if (lua_isnoneornil(L, index)) return Runner(L).ReplyMs();
    const lua_Integer ms = luaL_checkinteger(L, index);
    luaL_argcheck(L, ms > 0 && ms <= MaxWaitMs, index, "milliseconds from 1 to 3600000 expected");
    return static_cast<uint32_t>(ms);
}

std::string StringArgument(lua_State* L, int index) {
    size_t size = 0;
    const char* text = luaL_checklstring(L, index, &size);
    return {text, size};
}

// The arguments as print shows them, separated by blanks.
std::string JoinedArguments(lua_State* L) {
    std::string text;
    for (int i = 1, n = lua_gettop(L); i <= n; ++i) {
        size_t size = 0;
        const char* part = luaL_tolstring(L, i, &size);
        if (i > 1) text += ' ';
        text.append(part, size);
        lua_pop(L, 1);
    }
    return text;
}

// --- Instruments ---

// What an instrument's userdata holds: the run owns the instrument and outlives the state.
struct InstrumentBox {
    TestInstrument* instrument;
};

TestInstrument& Self(lua_State* L) {
    void* box = lua_touserdata(L, 1);
    const bool instrument = box && luaL_getmetafield(L, 1, InstrumentType) != LUA_TNIL;
    if (instrument) lua_pop(L, 1);
    luaL_argexpected(L, instrument, 1, "instrument (call its methods with ':')");
    return *static_cast<InstrumentBox*>(box)->instrument;
}

int InstrumentWrite(lua_State* L) {
    Self(L).Write(StringArgument(L, 2));
    return 0;
}

int InstrumentQuery(lua_State* L) {
    PushString(L, Self(L).Query(StringArgument(L, 2), WaitArgument(L, 3)));
    return 1;
}

int InstrumentRead(lua_State* L) {
    PushString(L, Self(L).Read(WaitArgument(L, 2)));
    return 1;
}

int InstrumentExpect(lua_State* L) {
    const std::string pattern = StringArgument(L, 2);
    std::vector<std::string> groups;
    PushString(L, Self(L).Expect(Api(L).Pattern(pattern), "/" + pattern + "/", WaitArgument(L, 3), groups));
    luaL_checkstack(L, static_cast<int>(groups.size()), "too many groups");
    for (const std::string& group : groups)
        PushString(L, group);
    return 1 + static_cast<int>(groups.size());
}

// The number a query's reply holds: the pattern's first group, or its whole match without one.
int InstrumentNumber(lua_State* L) {
    TestInstrument& self = Self(L);
    const std::string command = StringArgument(L, 2);
    const std::string pattern =
        lua_isnoneornil(L, 3) ? std::string(TestScriptApi::NumberPattern) : StringArgument(L, 3);
    const re2::RE2& compiled = Api(L).Pattern(pattern);
    const uint32_t ms = WaitArgument(L, 4);
    const std::string line = self.Query(command, ms);
    re2::StringPiece found[2];
    const int groups = compiled.NumberOfCapturingGroups() > 0 ? 2 : 1;
    double value = 0;
    if (!compiled.Match(line, 0, line.size(), re2::RE2::UNANCHORED, found, groups) ||
        !ParseSeriesNumber(std::string_view(found[groups - 1].data(), found[groups - 1].size()), value))
        throw ScriptError{ExitScriptError,
                          self.Name() + ": no number in the reply to " + command + ": " + line};
    lua_pushnumber(L, value);
    PushString(L, line);
    return 2;
}

int InstrumentModemLine(lua_State* L, bool dtr) {
    luaL_checkany(L, 2);
    Self(L).SetModemLine(dtr, lua_toboolean(L, 2) != 0);
    return 0;
}
int InstrumentSetDtr(lua_State* L) {
    return InstrumentModemLine(L, true);
}
int InstrumentSetRts(lua_State* L) {
    return InstrumentModemLine(L, false);
}

int InstrumentBreak(lua_State* L) {
    const lua_Integer ms = luaL_checkinteger(L, 2);
    luaL_argcheck(L, ms >= 1 && ms <= 5000, 2, "milliseconds from 1 to 5000 expected");
    Self(L).Break(static_cast<uint32_t>(ms));
    return 0;
}

int InstrumentClose(lua_State* L) {
    Self(L).Close();
    return 0;
}

int InstrumentToString(lua_State* L) {
    PushString(L, "instrument " + Self(L).Name());
    return 1;
}

// Each instrument has a metatable of its own, whose __index holds the methods and its name, so a
// method is found by the interpreter's own table lookup; the shared "corvane.instrument" field
// marks it as an instrument.
void PushInstrument(lua_State* L, TestInstrument& instrument) {
    static constexpr luaL_Reg Methods[] = {
        {"write", Guarded<InstrumentWrite>},    {"query", Guarded<InstrumentQuery>},
        {"read", Guarded<InstrumentRead>},      {"expect", Guarded<InstrumentExpect>},
        {"number", Guarded<InstrumentNumber>},  {"set_dtr", Guarded<InstrumentSetDtr>},
        {"set_rts", Guarded<InstrumentSetRts>}, {"break_", Guarded<InstrumentBreak>},
        {"close", Guarded<InstrumentClose>},    {nullptr, nullptr},
    };
    static_cast<InstrumentBox*>(lua_newuserdatauv(L, sizeof(InstrumentBox), 0))->instrument = &instrument;
    lua_createtable(L, 0, 4);
    luaL_newlib(L, Methods);
    PushString(L, instrument.Name());
    lua_setfield(L, -2, "name");
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, InstrumentToString);
    lua_setfield(L, -2, "__tostring");
    lua_pushboolean(L, 1);
    lua_setfield(L, -2, InstrumentType);
    lua_pushstring(L, InstrumentType);
    lua_setfield(L, -2, "__metatable");
    lua_setmetatable(L, -2);
}

// --- corvane ---

int Open(lua_State* L) {
    const std::string what = lua_isnoneornil(L, 1) ? std::string() : StringArgument(L, 1);
    const std::string name = lua_isnoneornil(L, 2) ? std::string() : StringArgument(L, 2);
    PushInstrument(L, Runner(L).OpenInstrument(what, name));
    return 1;
}

int Sleep(lua_State* L) {
    const lua_Integer ms = luaL_checkinteger(L, 1);
    luaL_argcheck(L, ms >= 0 && ms <= MaxWaitMs, 1, "milliseconds from 0 to 3600000 expected");
    Runner(L).Await([] { return false; }, static_cast<uint32_t>(ms), nullptr);
    return 0;
}

int Log(lua_State* L) {
    Runner(L).Log(JoinedArguments(L), LogColours::Status);
    return 0;
}

// Runs fn as a named step: its checks, a fail and an error are the step's. An error ends the run
// after the step is recorded; a fail ends only the step.
int Step(lua_State* L) {
    const std::string name = StringArgument(L, 1);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    TestScriptRunner& run = Runner(L);
    if (!run.Record().BeginStep(name))
        throw ScriptError{ExitScriptError, "steps do not nest: \"" + name + "\" began inside another step"};
    run.StepBegun(name);
    lua_pushvalue(L, 2);
    std::optional<ScriptError> error;
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
        error = ReadError(L, -1);
        lua_pop(L, 1);
        if (error->code == ExitCheckFailed && !error->recorded) {
            run.Record().Fail(error->message);
            error.reset();
        }
    }
    const StepResult& step = run.Record().EndStep(error ? std::optional(error->message) : std::nullopt);
    const bool passed = step.verdict == StepVerdict::Passed;
    run.StepEnded(step);
    if (error) {
        error->recorded = true;
        PushError(L, *error);
        lua_error(L);
    }
    lua_pushboolean(L, passed);
    return 1;
}

std::optional<double> OptionalNumber(lua_State* L, int index) {
    if (lua_isnoneornil(L, index)) return std::nullopt;
    return luaL_checknumber(L, index);
}

int Check(lua_State* L) {
    const std::string name = StringArgument(L, 1);
    const double value = luaL_checknumber(L, 2);
    const std::optional<double> low = OptionalNumber(L, 3);
    const std::optional<double> high = OptionalNumber(L, 4);
    const std::string unit = lua_isnoneornil(L, 5) ? std::string() : StringArgument(L, 5);
    TestScriptRunner& run = Runner(L);
    const bool own = !run.Record().InStep();
    const CheckResult check = run.Record().Check(name, value, low, high, unit, CheckStamp());
    run.CheckRecorded(check);
    if (own) run.StepEnded(run.Record().Result().steps.back());
    lua_pushboolean(L, check.passed);
    return 1;
}

int Fail(lua_State* L) {
    std::string reason = JoinedArguments(L);
    if (reason.empty()) reason = "failed";
    throw ScriptError{ExitCheckFailed, reason};
}

void OpenCorvane(lua_State* L, const HeadlessOptions& options) {
    static constexpr luaL_Reg Functions[] = {
        {"open", Guarded<Open>},   {"sleep", Guarded<Sleep>}, {"log", Guarded<Log>}, {"step", Guarded<Step>},
        {"check", Guarded<Check>}, {"fail", Guarded<Fail>},   {nullptr, nullptr},
    };
    luaL_newlib(L, Functions);
    lua_createtable(L, 0, static_cast<int>(options.params.size()));
    for (const auto& [name, value] : options.params) {
        PushString(L, value);
        lua_setfield(L, -2, name.c_str());
    }
    lua_setfield(L, -2, "params");
    if (!options.connection.empty()) {
        PushString(L, options.connection);
        lua_setfield(L, -2, "connection");
    }
    lua_setglobal(L, "corvane");
    lua_pushcfunction(L, Guarded<Log>);
    lua_setglobal(L, "print");
}
} // namespace

TestScriptApi::TestScriptApi(lua_State* L, TestScriptRunner& run) : L_(L), run_(run) {
    *static_cast<TestScriptApi**>(lua_getextraspace(L)) = this;
    luaL_newmetatable(L, ErrorType);
    lua_pushcfunction(L, ErrorToString);
    lua_setfield(L, -2, "__tostring");
    lua_pushcfunction(L, ErrorIndex);
    lua_setfield(L, -2, "__index");
    lua_pushstring(L, ErrorType);
    lua_setfield(L, -2, "__metatable"); // getmetatable gives this text, setmetatable refuses
    lua_pop(L, 1);
    lua_atpanic(L, Panic);
    Wrap(L, "xpcall", StoppableXpcall);
    Wrap(L, "setmetatable", SetMetatableWithoutFinalizer);
    OpenCorvane(L, run.Options());
    lua_sethook(L, LimitHook, LUA_MASKCOUNT, HookInstructions);
}

// Finalizers that run as the state closes find no run.
TestScriptApi::~TestScriptApi() {
    lua_sethook(L_, nullptr, 0, 0);
    *static_cast<TestScriptApi**>(lua_getextraspace(L_)) = nullptr;
}

bool TestScriptApi::Load(const std::string& source, const std::string& path, std::string& error) {
    const std::string chunk = "@" + path;
    if (luaL_loadbufferx(L_, source.data(), source.size(), chunk.c_str(), "t") == LUA_OK) return true;
    error = lua_tostring(L_, -1) ? lua_tostring(L_, -1) : "the script cannot be read";
    lua_pop(L_, 1);
    return false;
}

std::optional<ScriptError> TestScriptApi::Run() {
    if (lua_pcall(L_, 0, 0, 0) == LUA_OK) return std::nullopt;
    ScriptError error = ReadError(L_, -1);
    lua_pop(L_, 1);
    return error;
}

const re2::RE2& TestScriptApi::Pattern(const std::string& text) {
    auto found = patterns_.find(text);
    if (found != patterns_.end()) return *found->second;
    std::string problem;
    std::unique_ptr<re2::RE2> compiled = CompileReplyPattern(text, problem);
    if (!compiled)
        throw ScriptError{ExitScriptError, "the pattern /" + text + "/ cannot be used: " + problem};
    return *patterns_.emplace(text, std::move(compiled)).first->second;
}
