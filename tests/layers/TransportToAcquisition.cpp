// The sensor link reaching for acquisition: this must not compile (device/ is below measure/).
#include "measure/Measurethread.h"
