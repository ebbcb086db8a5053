// A folder's own headers and those of the folders below it are reached.
#include "core/Settings.h"
#include "runs/Runs.h"
