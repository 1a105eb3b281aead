#include "main/handler_guard.h"

#include "main/app_context.h"

void showHandlerError(Prompts& prompts, const QString& message) {
    prompts.message(AppContext::kAppTitle, message, Prompts::Icon::Error);
}
