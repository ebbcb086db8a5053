// The string table's texts.
#include "core/Strings.h"

#include <QHash>

namespace {

const QHash<int, QString>& Table() {
    static const QHash<int, QString> table = {
        {sSystemError, QStringLiteral("Системная ошибка: ")},
        {sCannotSetWindowText, QStringLiteral("Невозможно установить заголовок окна.\r\nСистема сообщает: ")},
        {sCannotGetWindowClass, QStringLiteral("Невозможно получить класс окна.\r\nСистема сообщает: ")},
        {sCannotCreateMutex,
         QStringLiteral("Невозможно создать объект синхронизации.\r\nСистема сообщает: ")},
        {sCannotReadSettings,
         QStringLiteral("Невозможно прочитать настройки из '%s'.\r\nПричина: Файл не найден.")},
        {sCannotOpenDevice, QStringLiteral("Невозможно открыть устройство '%s'.\r\nСистема сообщает: %s")},
        {sCannotSetDeviceParams,
         QStringLiteral("Невозможно задать параметры устройства '%s'.\r\nСистема сообщает: %s")},
        {sNoSensorsBusy,
         QStringLiteral(
             "Измерительные устройства не обнаружены!\r\nПричина: Возможно они используются другой "
             "программой.\r\nЗакройте программы, использующие измерительные устройства и проверьте "
             "правильность подключения их к ПК.")},
        {sNoSensorsNoPorts,
         QStringLiteral("Измерительные устройства не обнаружены!\r\nПричина: COM-порты в системе не "
                        "обнаружены.\r\nПроверьте правильность подключения измерительных устройств к ПК.")},
        {sProgramStart, QStringLiteral("Запуск программы.")},
        {sProgramStop, QStringLiteral("Остановка программы.")},
        {sConfirmExit, QStringLiteral("Вы действительно хотите выйти из программы?")},
        {sNoDescription, QStringLiteral("Описание для данного эксперимента не доступно.")},
        {sConfirmNewExperiment,
         QStringLiteral("Внимание! При открытии нового эксперимента все собранные данные будут "
                        "потеряны.\r\nПродолжить?")},
        {sChooseExperimentFirst,
         QStringLiteral("Внимание! Перед подключением к датчику выберите эксперимент.")},
        {sCannotLoadExperiment,
         QStringLiteral("Невозможно загрузить сценарий проведения эксперимента.\r\nПричина: ")},
        {sNoReportTemplate, QStringLiteral("Шаблон отчета для данного эксперимента не доступен.")},
        {sReceiveError, QStringLiteral("Ошибка получения данных от измерительного устройства.")},
        {sSendError, QStringLiteral("Ошибка посылки данных измерительному устройству.")},
        {sCaptionError, QStringLiteral("Ошибка")},
        {sCaptionWarning, QStringLiteral("Внимание")},
        {sCaptionConfirm, QStringLiteral("Подтверждение")},
        {sCaptionInput, QStringLiteral("Ввод данных")},
    };
    return table;
}

} // namespace

QString LoadStr(int id) {
    return Table().value(id);
}

QString FmtLoadStr(int id, const QStringList& args) {
    return FormatPercent(LoadStr(id), args);
}

QString FormatPercent(const QString& format, const QStringList& args) {
    QString result;
    result.reserve(format.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'%' && i + 1 < format.size()) {
            const QChar kind = format[i + 1];
            if (kind == u's' || kind == u'd') {
                if (next < args.size()) result += args[next];
                ++next;
                ++i;
                continue;
            }
            if (kind == u'%') {
                result += u'%';
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}
