// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor connected and its stream, below the window: the one pump that takes the packets the measuring
// thread queued, decodes their values and hands channel 0's to the lesson — a run's at the window's tick, the
// sensor's reading between runs four times a second on a timer of its own.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;
class tDevice;
class tLesson;

class tAcquisition : public QObject {
    Q_OBJECT
public:
    explicit tAcquisition(tLesson& lesson, QObject* parent = nullptr);
    ~tAcquisition() override;

    // ---- The sensor.
    // The sensor found is the one read from now on (the one before is let go).
    void Attach(std::unique_ptr<tDevice> device);
    // Lets the sensor go: a stream still going ends, nothing more is sent to it, and its link is closed.
    void Release();
    tDevice* Device() const { return FDevice.get(); }
    // How many values of channel 0 the lesson has taken since the sensor was attached.
    std::int64_t ValuesTaken() const { return FTaken; }

    // ---- A run.
    // The run's stream begins from empty channels: the sensor is started (the reading between runs must have
    // ended). Nothing happens without a sensor.
    void BeginRun();
    // Takes the packets queued now, decodes them and hands the run's values of channel 0 to the lesson
    // (`last`: the stream has ended, every value is taken); a sensor that says it is lost posts
    // WM_SENSOR_LOST. Between runs the reading's values go to the lesson the same way; a reading that fails
    // is lost. False when a packet was broken: what came before it is taken, the packets behind it stay, and
    // the run is to be stopped.
    bool Pump(bool last = false);
    // The run's stream ends: with `drain`, the thread is ended and what it left is taken first; then the
    // sensor is stopped.
    void EndRun(bool drain);

    // ---- The reading between runs.
    bool Reading() const { return FStream == tStream::Reading; }
    // The sensor streams while nothing is measured, its newest value taken four times a second. False when
    // there is no sensor, something streams already, or the sensor does not start.
    bool BeginReading();
    // Ends it, the sensor stopped as Стоп stops it.
    void EndReading();
    // The reading's stream failed (the sensor stopped answering): it ends without a word to the sensor, and
    // readingLost is said. False when nothing was being read.
    bool LoseReading();

signals:
    void readingLost();

private:
    enum class tStream { None, Run, Reading };
    void Clear();

    tLesson& FLesson;
    std::unique_ptr<tDevice> FDevice;
    tStream FStream = tStream::None;
    QTimer* FReadingTimer;
    // The values decoded on each of the 16 channels, the channel that takes the next one, a packet's payload.
    std::array<std::vector<double>, 16> FChannels;
    int FChannel = 0;
    std::vector<std::uint8_t> FPayload;
    std::int64_t FTaken = 0;
};
