#pragma once
// A Lua 5.4 state for one test script, with the libraries the script may use. Safe by default: a
// script reaches instruments, the log and the reports only through the corvane API, and cannot run
// programs or touch files. With system access (a station that needs it) every standard library is
// there.
//
// Lua is the build compiled as C++ (Debian's lua5.4-c++): a Lua error unwinds as an exception, so
// the C++ objects of the API functions it passes through are destroyed properly.
//
// Threads: one thread, the run's.
#include <cstddef>
#include <string>

struct lua_State;

class LuaState {
public:
    // A script that takes more memory than this gets Lua's "not enough memory" error instead of
    // taking the station's memory.
    static constexpr size_t MemoryLimit = size_t{1} << 30;

    // Without system access: the base library without dofile and loadfile (load takes text only:
    // precompiled chunks can crash the interpreter), string, table, math, utf8, coroutine, and of
    // os only clock, date, difftime and time (not getenv: a station's environment holds its
    // secrets, and a script's log is published). No io, package, require or debug.
    explicit LuaState(bool allowSystem);
    ~LuaState();
    LuaState(const LuaState&) = delete;
    LuaState& operator=(const LuaState&) = delete;

    lua_State* L() const { return state_; }
    size_t MemoryInUse() const { return used_; }

private:
    static void* Allocate(void* self, void* block, size_t oldSize, size_t newSize);
    void OpenSafeLibraries();

    lua_State* state_ = nullptr;
    size_t used_ = 0;
};
