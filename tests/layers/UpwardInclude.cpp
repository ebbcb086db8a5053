// A lower folder that reaches for a higher one's header: this must not compile (runs/ is below ui/).
#include "ui/Mainfm.h"
