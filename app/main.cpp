// Entry point of Зорбинка.
#include "app/Startup.h"

#include <QApplication>

int main(int argc, char** argv) {
    PreferSocketWindowPixels();
    QApplication app(argc, argv);
    return RunProgram(app);
}
