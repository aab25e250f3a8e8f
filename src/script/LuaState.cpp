#include "script/LuaState.h"

#include <lua.hpp>

#include <cstdlib>
#include <new>

namespace {
// What a script without system access keeps of the base library and of os.
constexpr const char* RemovedBaseFunctions[] = {"dofile", "loadfile"};
// Not getenv: a station's environment holds its secrets, and a script's log is published.
constexpr const char* KeptOsFunctions[] = {"clock", "date", "difftime", "time"};

// load with the script's own arguments, but for text chunks only.
int TextOnlyLoad(lua_State* L) {
    // An environment given as nil differs from none: load keeps the difference.
    const bool environment = lua_gettop(L) >= 4;
    lua_settop(L, 4);
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    if (!environment) lua_settop(L, 4);
    lua_call(L, environment ? 4 : 3, LUA_MULTRET);
    return lua_gettop(L);
}
} // namespace

LuaState::LuaState(bool allowSystem) {
    state_ = lua_newstate(&LuaState::Allocate, this);
    if (!state_) throw std::bad_alloc();
    if (allowSystem) {
        luaL_openlibs(state_);
    } else {
        OpenSafeLibraries();
    }
}

LuaState::~LuaState() {
    lua_close(state_);
}

void* LuaState::Allocate(void* self, void* block, size_t oldSize, size_t newSize) {
    auto& state = *static_cast<LuaState*>(self);
    const size_t before = block ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        state.used_ -= before;
        return nullptr;
    }
    if (newSize > before && state.used_ - before + newSize > MemoryLimit) return nullptr;
    void* grown = std::realloc(block, newSize);
    if (grown) state.used_ = state.used_ - before + newSize;
    return grown;
}

void LuaState::OpenSafeLibraries() {
    static constexpr luaL_Reg Libraries[] = {
        {LUA_GNAME, luaopen_base},       {LUA_STRLIBNAME, luaopen_string}, {LUA_TABLIBNAME, luaopen_table},
        {LUA_MATHLIBNAME, luaopen_math}, {LUA_UTF8LIBNAME, luaopen_utf8},  {LUA_COLIBNAME, luaopen_coroutine},
        {LUA_OSLIBNAME, luaopen_os},
    };
    lua_State* L = state_;
    for (const luaL_Reg& library : Libraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
    for (const char* name : RemovedBaseFunctions) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_getglobal(L, "load");
    lua_pushcclosure(L, TextOnlyLoad, 1);
    lua_setglobal(L, "load");
    // os keeps what tells the time; the rest runs programs, changes files or ends the process.
    lua_getglobal(L, LUA_OSLIBNAME);
    lua_newtable(L);
    for (const char* name : KeptOsFunctions) {
        lua_getfield(L, -2, name);
        lua_setfield(L, -2, name);
    }
    lua_setglobal(L, LUA_OSLIBNAME);
    lua_pop(L, 1);
}
