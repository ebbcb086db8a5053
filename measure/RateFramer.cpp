// Building rate-mode packets: carry-over rule and the per-pass log lines.
#include "measure/RateFramer.h"

#include "core/Logfile.h"
#include "measure/ValueStream.h"

#include <QString>
#include <algorithm>
#include <cstring>

namespace {

// The carry store holds 1280 bytes but its count is one byte wide.
constexpr int kMaxCarry = 255;

} // namespace

tRateFramer::tRateFramer(int size, bool logMeasure) : FSize(size), FLogMeasure(logMeasure) {}

void tRateFramer::Begin() {
    FBlock.reset(new std::uint8_t[size_t(FSize)]);
    std::uint8_t* p = FBlock.get();
    std::memset(p, kDataEnd, size_t(FSize));
    p[0] = kPacketStart;
    p[1] = FSequence;
    p[2] = kDataStart;
    std::memcpy(p + 3, FCarry, size_t(FCarried));
    FCarriedIn = FCarried;
    FCarried = 0;
    p[FSize - 1] = kPacketEnd;
}

std::unique_ptr<std::uint8_t[]> tRateFramer::Finish(int got, bool good) {
    std::uint8_t* p = FBlock.get();
    const int c = FCarriedIn;
    got = std::clamp(got, 0, Room());
    if (good && FLogMeasure) {
        WriteLog(QStringLiteral("\r\ntransfer_size=%1\r\nfooter_size=%2\r\nsize=%3\r\n")
                     .arg(got)
                     .arg(c)
                     .arg(FSize) +
                 LogHex(p + 3, c + got, "0x", " ") + QStringLiteral("\r\n"));
    } else if (!good) {
        WriteLog(QStringLiteral("ReadTimeout"));
    }
    int n = c + got;
    if (n == 0) {
        p[3] = kEmptyRead;
        n = 1;
    }
    // Keep an unfinished number out of this packet: everything after the last group end moves on. More than
    // the store takes, or more than would leave room for a new byte, stays in the packet instead.
    int last = 2 + n;
    while (last > 2 && !EndsGroup(p[last])) --last;
    int next = 2 + n - last;
    if (next > std::min(kMaxCarry, FSize - 5)) next = 0;
    if (FLogMeasure)
        WriteLog(QStringLiteral("_footer_size=%1\r\n").arg(next) + LogHex(p + 3 + n - next, next, "0x", "") +
                 QStringLiteral("\r\n"));
    std::memcpy(FCarry, p + 3 + n - next, size_t(next));
    FCarried = next;
    n -= next;
    std::memset(p + 3 + n, kDataEnd, size_t(FSize - 4 - n));
    ++FSequence;
    if (good) {
        FFailures = 0;
        return std::move(FBlock);
    }
    WriteLog(QStringLiteral("Invalid data recv :") + LogRaw(p, n));
    FBlock.reset();
    ++FFailures;
    return nullptr;
}
