// Tests on demo sensors: the demo COM and FTDI tables installed, settings without the open pause.
#pragma once

#include "core/Settings.h"
#include "device/Device.h"
#include "device/Ftdilibrary.h"
#include "measure/Measurethread.h"
#include "platform/Pause.h"
#include "sim/SimWorld.h"

#include <gtest/gtest.h>
#include <memory>

class tSimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        tSimWorld::Instance().Clear();
        UseMeasureThreads();
        SetComApi(&SimComApi());
        SetHidApi(&SimHidApi());
        SetComPortLister([] { return tSimWorld::Instance().ComPaths(); });
        SetFTDILibrary(std::make_unique<tFTDILibrary>(SimFtdiFunctions()));
        VirtualPauses();
        settings.AddName(QStringLiteral("Timeout"), QStringLiteral("0"));
    }
    void TearDown() override {
        tSimWorld::Instance().Clear();
        SetComApi(nullptr);
        SetHidApi(nullptr);
        SetComPortLister(nullptr);
        SetFTDILibrary(nullptr);
        SetPauseHook(nullptr);
    }

    // The pauses a sensor is given pass on its own clock, at no real cost: a stop's pause lets the bytes
    // still on their way arrive before the purge, as on a real line.
    void VirtualPauses() {
        SetPauseHook([clock = clock](int milliseconds) {
            clock->SleepUntilUs(clock->NowUs() + std::int64_t(milliseconds) * 1000);
            return true;
        });
    }

    // A sensor on the demo COM port `path` or the demo FTDI location `location`, on a virtual clock.
    std::shared_ptr<tSimSensor> AddCom(const QString& path, tSimSensorConfig config = {}) {
        auto sensor = std::make_shared<tSimSensor>(std::move(config), clock);
        tSimWorld::Instance().AddComSensor(path, sensor);
        return sensor;
    }
    std::shared_ptr<tSimSensor> AddFtdi(DWORD location, tSimSensorConfig config = {}) {
        auto sensor = std::make_shared<tSimSensor>(std::move(config), clock);
        tSimWorld::Instance().AddFtdiSensor(location, sensor);
        return sensor;
    }
    std::shared_ptr<tSimHidSensor> AddHid(const QString& path, tSimSensorConfig config = {},
                                          tSimHidConfig hid = {}) {
        auto sensor = std::make_shared<tSimHidSensor>(std::move(config), hid, clock);
        tSimWorld::Instance().AddHidSensor(path, sensor);
        return sensor;
    }
    // Opens the device; the test fails when it cannot.
    std::unique_ptr<tDevice> Open(const QString& place, std::uint8_t type) {
        auto device = std::make_unique<tDevice>(place, type, &settings);
        QString error;
        EXPECT_TRUE(device->Init(error)) << error.toStdString();
        return device;
    }

    // A thousand times faster than real time: fast tests, yet a sensor cannot run ahead of its reader without
    // bound.
    std::shared_ptr<tVirtualClock> clock = std::make_shared<tVirtualClock>(1000);
    tSettings settings{false};
};
