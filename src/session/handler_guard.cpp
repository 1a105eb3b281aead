// SPDX-License-Identifier: MIT
#include "com/handler_guard.h"

#include "com/app_context.h"

void showHandlerError(Prompts& prompts, const QString& message) {
    prompts.message(AppContext::kAppTitle, message, Prompts::Icon::Error);
}
