// The real dialogs: Qt's message boxes, input box, file and printer dialogs behind tPrompts.
#pragma once

#include "core/Prompts.h"

tPrompts& DialogPrompts();
// The session ends: the boxes and dialogs open are cancelled, and nothing more is asked.
void EndEveryPrompt();
