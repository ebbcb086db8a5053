// Entry point of Зорбинка.
#include "app/Startup.h"

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "Использование: zorbinka [LOG] [LOG_MEASURE] [DEMO] [ПАПКА_РАБОТЫ]\n"
    "Зорбинка: школьные опыты с измерительными USB-датчиками.\n"
    "\n"
    "  LOG            вести журнал (zorbinka.log рядом с программой или\n"
    "                 в ~/.local/state/zorbinka/)\n"
    "  LOG_MEASURE    вместе с LOG записывать в журнал и каждый пакет измерения\n"
    "  DEMO           встроенные демонстрационные датчики вместо настоящих\n"
    "  ПАПКА_РАБОТЫ   открыть сохранённую работу (её опыты и отчёт)\n"
    "  --help         показать эту справку и выйти\n"
    "  --version      показать версию и выйти\n"
    "\n"
    "Ключ можно писать с «-», «--» или «/» и в любом регистре.\n"
    "Настройки: /etc/zorbinka/zorbinka.cfg, свои: ~/.config/zorbinka/zorbinka.cfg.\n"
    "Работы: ~/.local/share/zorbinka/, свои эксперименты: ~/.local/share/zorbinka/data/.\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is needed, as every command-line program answers them.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("zorbinka " ZORBINKA_VERSION);
            return 0;
        }
    }
    PreferSocketWindowPixels();
    QApplication app(argc, argv);
    // The toolkit takes the user's locale for the C library too; numbers written for machines (by any library
    // the program links) keep their decimal point. Numbers shown to the user follow the locale through Qt.
    std::setlocale(LC_NUMERIC, "C");
    return RunProgram(app);
}
