// Framing of a rate-mode stream into packets, shared by the serial and the HID routines: the frame, the
// empty-read marker, the carry-over of an unfinished number and the count of failed passes.
#pragma once

#include <cstdint>
#include <memory>

class tRateFramer {
public:
    // `size`: the packet size S; `sequence` numbers the packets from 0.
    tRateFramer(int size, bool logMeasure);

    // Starts a pass: a new block framed with 0xF7, 0xFE, the sequence number, 0xF0, the carried bytes and
    // 0xFF. New bytes go to Data(), at most Room() of them.
    void Begin();
    std::uint8_t* Data() { return FBlock.get() + 3 + FCarriedIn; }
    int Room() const { return FSize - FCarriedIn - 4; }

    // Ends the pass with `got` new bytes. A good pass hands out the block for queueing; a failed one drops it
    // (its unfinished number is still carried) and counts. Either way the sequence number advances.
    std::unique_ptr<std::uint8_t[]> Finish(int got, bool good);

    // Failed passes in a row; from 300 on every further failure is to be reported.
    int Failures() const { return FFailures; }
    bool ReportFailure() const { return FFailures >= 300; }

private:
    const int FSize;
    const bool FLogMeasure;
    std::unique_ptr<std::uint8_t[]> FBlock;
    std::uint8_t FCarry[1280] = {};
    int FCarried = 0;
    int FCarriedIn = 0;
    int FFailures = 0;
    std::uint8_t FSequence = 0;
};
