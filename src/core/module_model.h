// SPDX-License-Identifier: MIT
#pragma once
// The module models and their channel and power lists. Only the first model is in use; the
// table keeps the others so that the model selector's handlers have their data.

#include "core/link_settings.h"
#include "core/wire_records.h"

#include <QStringList>

[[nodiscard]] const ModuleModel& moduleModel(int row);
[[nodiscard]] int moduleModelCount();

[[nodiscard]] QStringList channelItems(const ModuleModel& model);
[[nodiscard]] QStringList powerItems(const ModuleModel& model);

// Position of a value in a list of count items, or -1 when it falls outside (no selection).
[[nodiscard]] int listIndexFor(int position, int count);

// The start-up clamp: a stored channel above 15 becomes channel 15 with power 15.
void clampStartupChannel(ModuleSettings& module);
