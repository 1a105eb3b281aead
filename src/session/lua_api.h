// SPDX-License-Identifier: MIT
#pragma once
// The script API as Lua sees it: port.*, send, write, expect, wait, now, module.*, keys.press,
// check, fail, log, capture.*, args; and the sandbox around it. Each function works on the
// ScriptHost that owns the state.

#include <optional>

#include "session/script_host.h"

struct lua_State;

class LuaApi {
public:
    // Opens the allowed libraries and binds the API into a fresh state. Returns why it could
    // not (only when out of memory).
    static std::optional<QString> install(lua_State* L, const ScriptHost::Args& args);
};
