// SPDX-License-Identifier: MIT
#pragma once
// Every user command runs through runHandler: a failure ends that command with an error box
// (the application title as caption) and the program carries on. Nothing thrown may cross
// the Qt event loop.

#include "platform/prompts.h"

#include <exception>
#include <new>

void showHandlerError(Prompts& prompts, const QString& message);

template <typename F>
void runHandler(Prompts& prompts, F&& handler) {
    try {
        handler();
    } catch (const std::bad_alloc&) {
        showHandlerError(prompts, QStringLiteral("Out of memory."));
    } catch (const std::exception& e) {
        showHandlerError(prompts, QString::fromLocal8Bit(e.what()));
    }
}
