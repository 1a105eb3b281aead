#include "main/module_model.h"

#include <array>

namespace {
constexpr std::array<ModuleModel, 4> kModels{{
    {"Orlin-A1", 0, 16, 16, 0, 15},
    {"Pavek-B1", 0, 16, 16, 0, 15},
    {"Sendra-C1(950MHz)", 1, 33, 3, 30, 2},
    {"Sendra-D1(920MHz)", 24, 15, 4, 33, 2},
}};
}  // namespace

const ModuleModel& moduleModel(int row) {
    return kModels.at(static_cast<std::size_t>(row));
}

int moduleModelCount() { return static_cast<int>(kModels.size()); }

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
