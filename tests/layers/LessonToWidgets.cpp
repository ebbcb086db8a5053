// The lesson reaching for the window's toolkit components: this must not compile (lesson/ is below widgets/).
#include "widgets/Chart.h"
