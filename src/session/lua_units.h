// SPDX-License-Identifier: MIT
#pragma once
// A received unit as a script sees it: its bytes, time and what the frame decoder reads in it.

#include <QByteArray>

struct lua_State;

namespace lua_values {

// Pushes the unit received atMs into the script as a table; modelRow picks the model's lists
// for the decoder.
void pushUnit(lua_State* L, const QByteArray& unit, double atMs, int modelRow);

}  // namespace lua_values
