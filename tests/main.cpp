// SPDX-License-Identifier: MIT
// One test binary for the pure cores, the windows (offscreen) and the wire (ptys).
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/qt_accessibility.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installAccessibility();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
