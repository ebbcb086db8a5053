// The real dialogs: Qt's message boxes, input box, file and printer dialogs behind tPrompts.
#pragma once

#include "core/Prompts.h"

tPrompts& DialogPrompts();
