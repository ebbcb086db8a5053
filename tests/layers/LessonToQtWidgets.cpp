// The lesson reaching for Qt's widgets: this must not compile (the lesson is usable without any window).
#include <QMainWindow>
