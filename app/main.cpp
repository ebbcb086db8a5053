// Entry point of Зорбинка.
#include "app/Startup.h"

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
    PreferSocketWindowPixels();
    QApplication app(argc, argv);
    // The toolkit takes the user's locale for the C library too; numbers written for machines (by any library
    // the program links) keep their decimal point. Numbers shown to the user follow the locale through Qt.
    std::setlocale(LC_NUMERIC, "C");
    return RunProgram(app);
}
