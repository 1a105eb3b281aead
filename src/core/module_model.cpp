// SPDX-License-Identifier: MIT
#include "core/module_model.h"


const ModuleModel& moduleModel(int row) {
    return kModuleModels.at(static_cast<std::size_t>(row));
}

int moduleModelCount() { return static_cast<int>(kModuleModels.size()); }

QStringList channelItems(const ModuleModel& model) {
    QStringList items;
    for (int i = 0; i < model.channelCount; ++i)
        items << QString::number(model.firstChannel + i) + QStringLiteral("ch");
    return items;
}

QStringList powerItems(const ModuleModel& model) {
    QStringList items;
    for (int i = 0; i < model.powerCount; ++i) items << QString::number(i) + QStringLiteral("pw");
    return items;
}

int listIndexFor(int position, int count) {
    return position >= 0 && position < count ? position : -1;
}

void clampStartupChannel(ModuleSettings& module) {
    // The power is not checked on its own: a bad power alone just leaves no selection.
    if (module.rfCh > 15) {
        module.rfCh = 15;
        module.rfPw = 15;
    }
}
