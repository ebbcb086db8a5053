// Streaming from a HID sensor: the start report, the first report's check, data reports framed into packets.
#include "core/AppMessages.h"
#include "core/Exception.h"
#include "core/Functions.h"
#include "core/Logfile.h"
#include "measure/Measurethread.h"
#include "measure/RateFramer.h"
#include "platform/HidApi.h"

#include <cerrno>
#include <vector>

namespace {

constexpr int kStartWaitMs = 500;
constexpr int kDataWaitMs = 10000;
// Report IDs of the stream; the command transfers take theirs from the settings.
constexpr std::uint8_t kStreamOutId = 2;
constexpr std::uint8_t kStreamInId = 1;

// One write or read of the start-up, with its error line; the byte count or a negative result.
int StartupIo(int result, const char* what) {
    if (result < 0) WriteLog(QString::fromLatin1(what) + QStringLiteral(" Error: ") + HidErrorText(result));
    return result;
}
} // namespace

void tMeasureThread::MeasureHID() {
    const tHidApi* api = HidApi();
    int inputLength = 0;
    int outputLength = 0;
    if (!api || !api->GetReportLengths(Handle, &inputLength, &outputLength) || inputLength < 3 ||
        outputLength < 3) {
        WriteLog(QStringLiteral("MEASURE: Unable to get HID preparsed data."));
        // Without the report lengths nothing can be read: the start fails like a sensor that gave no first
        // report.
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        return;
    }
    std::vector<std::uint8_t> output(size_t(outputLength), 0);
    std::vector<std::uint8_t> input(size_t(inputLength), 0);

    output[0] = kStreamOutId;
    output[1] = 'S';
    WriteLog(QStringLiteral("SEND: start report "));
    bool immediate = false;
    errno = 0;
    const int written = api->Write(Handle, output.data(), outputLength, kStartWaitMs, &immediate);
    const int writeError = errno;
    int count = StartupIo(written, "Write");
    // Wine reports HID writes one byte short.
    if (count >= 0 && IsWine() && FixWine) ++count;
    if (count != outputLength) {
        PostFailure(WM_MEASURE_SEND_ERROR, count < 0 && IsLinkGoneError(writeError) ? 2 : 0);
        return;
    }
    WriteLog(QStringLiteral("SEND: start report written."));

    errno = 0;
    const int firstRead = api->Read(Handle, input.data(), inputLength, kStartWaitMs, &StopEvent, &immediate);
    // Stopped before the sensor answered: the run ends without a word.
    if (firstRead == kHidStopped) {
        WriteLog(QStringLiteral("Terminating..."));
        return;
    }
    const int first = StartupIo(firstRead, "Read");
    const int transferred = std::max(first, 0);
    if (transferred != inputLength || input[0] != 1 || input[1] != 1 || input[2] != 0) {
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        WriteLog(QStringLiteral("First read timeout :") + LogRaw(input.data(), transferred));
        WriteLog(QStringLiteral("ERR Tranferred: %1").arg(transferred));
        for (int i = 0; i < 3; ++i) WriteLog(QStringLiteral("ERR in[%1]: %2").arg(i).arg(input[size_t(i)]));
        return;
    }

    const int size = RatePacketSize(Speed);
    if (Speed == 0) {
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        WriteLog(QStringLiteral("Speed is non zero"));
        return;
    }
    // Rates below 477 give packets too small for the frame.
    if (size < 5 || size > kMaxPacketSize) {
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        WriteLog(QStringLiteral("Invalid speed: %1").arg(Speed));
        return;
    }

    tRateFramer framer(size, LogMeasure);
    while (!Terminated()) {
        framer.Begin();
        std::fill(input.begin(), input.end(), 0);
        errno = 0;
        const int result = api->Read(Handle, input.data(), inputLength, kDataWaitMs, &StopEvent, &immediate);
        const int error = errno;
        if (result == kHidStopped) {
            WriteLog(QStringLiteral("Terminating..."));
            continue;
        }
        bool good = StartupIo(result, "Read") >= 0;
        // A device that has gone away fails every further read; one that sent nothing for the whole wait is
        // reported as silent at once, as a serial sensor is after its read time-outs.
        const bool gone = result == kHidFailed && IsLinkGoneError(error);
        int got = 0;
        if (good && input[0] != kStreamInId) {
            WriteLog(QStringLiteral("First byte in report is 0x") + LogHex(input.data(), 1, "", ""));
            good = false;
        }
        if (good) {
            const int reportCount = input[1] == 255 ? 62 : input[1];
            if (reportCount > framer.Room() || reportCount > result - 2) {
                WriteLog(QStringLiteral("Too Many Data"));
                good = false;
            } else {
                std::copy_n(input.begin() + 2, reportCount, framer.Data());
                got = reportCount;
            }
        }
        if (std::unique_ptr<std::uint8_t[]> block = framer.Finish(got, good))
            QueuePacket(std::move(block), size);
        else if (gone || result == kHidTimeout || framer.ReportFailure())
            return EndStream(gone ? SystemErrorText(error)
                             : result == kHidTimeout
                                 ? QStringLiteral("no report for %1 ms").arg(kDataWaitMs)
                                 : QStringLiteral("%1 failed reads").arg(framer.Failures()));
    }
}
