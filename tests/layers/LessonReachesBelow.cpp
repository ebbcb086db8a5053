// The lesson's own headers and those it is built on are reached.
#include "analysis/Results.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "runs/WorkFolder.h"
