// SPDX-License-Identifier: MIT
#include "session/handler_guard.h"

#include "session/app_context.h"

void showHandlerError(Prompts& prompts, const QString& message) {
    prompts.message(AppContext::kAppTitle, message, Prompts::Icon::Error);
}
