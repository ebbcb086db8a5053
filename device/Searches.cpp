// The FTDI, COM and HID searches: candidates from the link's own list, detectors 100 ms apart, the result
// collected in creation order.
#include "device/Searches.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Device.h"
#include "device/Devicedetector.h"
#include "device/Ftdilibrary.h"
#include "platform/HidApi.h"

#include <QSettings>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gSpacing{100};

using tDetectors = std::vector<std::unique_ptr<tDeviceDetector>>;

// Starts a detector and lets the next one wait, so that the open pauses of the candidates overlap. A
// candidate whose detector cannot start is logged and left out; the search goes on with the others.
void StartDetector(tDetectors& detectors, const QString& place, std::uint8_t type, tSettings* settings) {
    try {
        detectors.push_back(std::make_unique<tDeviceDetector>(place, type, settings));
        std::this_thread::sleep_for(std::chrono::milliseconds(gSpacing.load()));
    } catch (const Exception& e) {
        WriteLog(e.Message());
    } catch (const std::exception& e) {
        // The system refused a new thread.
        WriteLog(ErrorText(e));
    }
}

// Waits for every detector in creation order and keeps the first device of the wanted name; the others are
// closed. Raises 1013 when none answered with that name.
std::unique_ptr<tDevice> Collect(tDetectors& detectors, const QString& wanted) {
    std::unique_ptr<tDevice> found;
    for (auto& detector : detectors) {
        detector->WaitFor();
        std::unique_ptr<tDevice> device(detector->GetDevice());
        if (!device) continue;
        if (!found && device->GetName() == wanted) found = std::move(device);
    }
    detectors.clear();
    if (!found) throw Exception(LoadStr(sNoSensorsBusy));
    return found;
}

// A number from the text after "vid_" or "pid_" of a HID_VID or HID_PID value, read as hexadecimal.
int HidId(tSettings* settings, const char* key, const char* fallback) {
    QString text = settings ? settings->GetSettingByName(QString::fromLatin1(key)) : QString();
    if (text.isEmpty()) text = QString::fromLatin1(fallback);
    const qsizetype underscore = text.indexOf(u'_');
    bool ok = false;
    const int id = text.mid(underscore + 1).toInt(&ok, 16);
    return ok ? id : -1;
}

} // namespace

void SetDetectorSpacing(int milliseconds) {
    gSpacing.store(milliseconds);
}

std::unique_ptr<tDevice> FindFTDISensor(const QString& wanted, tSettings* settings) {
    try {
        tFTDILibrary& library = GetFTDILibrary();
        if (!library.IsLoaded())
            throw Exception(QStringLiteral("Библиотека доступа через интерфейс FTDI не загружена!"));
        tDetectors detectors;
        DWORD count = 0;
        if (library.FT_CreateDeviceInfoList(&count) != 0)
            throw Exception(QStringLiteral("Невозможно получить список подключенных устройств."));
        std::vector<FT_DEVICE_LIST_INFO_NODE> records(count);
        if (count > 0 && library.FT_GetDeviceInfoList(records.data(), &count) != 0)
            throw Exception(QStringLiteral("Невозможно получить данные о подключенных устройствах."));
        for (DWORD i = 0; i < std::min<DWORD>(count, DWORD(records.size())); ++i)
            StartDetector(detectors, QString::number(records[i].LocId), dtFTDI, settings);
        return Collect(detectors, wanted);
    } catch (const Exception& e) {
        WriteLog(QStringLiteral("FTW32: ") + e.Message());
    }
    return nullptr;
}

std::unique_ptr<tDevice> FindCOMSensor(const QString& wanted, tSettings* settings) {
    try {
        // The log lines follow the steps of the system's port list: its database, the list, the ports.
        WriteLog(QStringLiteral("Registry created"));
        WriteLog(QStringLiteral("StringList created"));
        WriteLog(QStringLiteral("Rootkey!"));
        if (!ComPortListAvailable()) throw Exception(LoadStr(sNoSensorsNoPorts));
        WriteLog(QStringLiteral("Key opened."));
        tDetectors detectors;
        WriteLog(QStringLiteral("Object list created."));
        const QStringList ports = ComPorts();
        WriteLog(QStringLiteral("Get Value Names."));
        if (ports.isEmpty()) throw Exception(LoadStr(sNoSensorsNoPorts));
        for (const QString& port : ports) StartDetector(detectors, port, dtCOM, settings);
        return Collect(detectors, wanted);
    } catch (const Exception& e) {
        WriteLog(QStringLiteral("COM: ") + e.Message());
    }
    return nullptr;
}

std::unique_ptr<tDevice> FindHIDSensor(const QString& wanted, tSettings* settings) {
    try {
        const int vendor = HidId(settings, "HID_VID", "vid_0483");
        const int product = HidId(settings, "HID_PID", "pid_5750");
        const tHidApi* api = HidApi();
        if (!api) throw Exception(QStringLiteral("Unable to load HID library"));
        tDetectors detectors;
        for (const tHidDeviceInfo& device : api->Enumerate()) {
            if (device.VendorId != vendor || device.ProductId != product) continue;
            WriteLog(QStringLiteral("START DETECTION: ") + device.Path);
            StartDetector(detectors, device.Path, dtHID, settings);
        }
        return Collect(detectors, wanted);
    } catch (const Exception& e) {
        WriteLog(QStringLiteral("HID: ") + e.Message());
    }
    return nullptr;
}

namespace {

QString LinksFile() {
    return UserStateFile(QStringLiteral("links.ini"));
}

} // namespace

QString LastSensorLink(const QString& sensor) {
    const QSettings state(LinksFile(), QSettings::IniFormat);
    return state.value(QStringLiteral("Links/") + sensor).toString();
}

tSensorSearch FindSensor(const QString& wanted, tSettings* settings, std::atomic<int>* link,
                         const std::atomic<bool>* cancel) {
    const struct {
        const char* Setting;
        bool ByDefault;
        const char* Link;
        std::unique_ptr<tDevice> (*Search)(const QString&, tSettings*);
    } links[] = {{"UseFTDI", true, "FTDI", FindFTDISensor},
                 {"UseCDC", false, "COM", FindCOMSensor},
                 {"UseHID", true, "HID", FindHIDSensor}};
    // The link the sensor was found on last time comes first (a HID sensor then skips the serial searches
    // and their open pauses); the others follow in their own order.
    const QString last = LastSensorLink(wanted);
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        if (last == QLatin1String(links[i].Link)) order.push_back(i);
    for (int i = 0; i < 3; ++i)
        if (last != QLatin1String(links[i].Link)) order.push_back(i);
    tSensorSearch found;
    for (const int i : order) {
        if (found.Device) break;
        if (cancel && *cancel) {
            found.Cancelled = true;
            break;
        }
        if (!settings->GetBool(QString::fromLatin1(links[i].Setting), links[i].ByDefault)) continue;
        if (link) *link = i + 1;
        found.Searched << QString::fromLatin1(links[i].Link);
        found.Device = links[i].Search(wanted, settings);
        if (i == 0) found.FtdiMissing = !found.Device && !GetFTDILibrary().IsLoaded();
        if (found.Device && last != QLatin1String(links[i].Link)) {
            QSettings state(LinksFile(), QSettings::IniFormat);
            state.setValue(QStringLiteral("Links/") + wanted, QString::fromLatin1(links[i].Link));
        }
    }
    return found;
}
