// The HID link over hidapi, on a stand-in library: exclusive use, report lengths, short reports, a stuck
// write, the system's reasons.
#include "platform/HidApi.h"
#include "support/FakeHidapi.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// Vendor page, report 1: 63 input bytes, report 2: 63 output bytes.
const std::vector<unsigned char> kDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                                                0x75, 0x08, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0x85,
                                                0x02, 0x95, 0x3F, 0x09, 0x01, 0x91, 0x02, 0xC0};

class HidRawTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHidapiLibraryName(FAKE_HIDAPI);
        SetHidApi(nullptr);
        state = fake_hid_state();
        *state = tFakeHidState{};
        state->Descriptor = kDescriptor;
        // The node the program locks: any file will do.
        path = dir.filePath(QStringLiteral("hidraw0")).toStdString();
        std::fclose(std::fopen(path.c_str(), "w"));
        state->Path = path;
        api = HidApi();
        ASSERT_TRUE(api) << "the stand-in library loads";
    }

    QTemporaryDir dir;
    std::string path;
    tFakeHidState* state = nullptr;
    const tHidApi* api = nullptr;
};

} // namespace

TEST_F(HidRawTest, OpenIsExclusiveAndKeepsTheSystemsReason) {
    void* device = api->Open(path.c_str());
    ASSERT_TRUE(device);
    int input = 0;
    int output = 0;
    ASSERT_TRUE(api->GetReportLengths(device, &input, &output));
    EXPECT_EQ(input, 64);
    EXPECT_EQ(output, 64);
    errno = 0;
    EXPECT_FALSE(api->Open(path.c_str())) << "a second opener is kept out";
    EXPECT_EQ(errno, EBUSY);
    api->Close(device);
    EXPECT_EQ(state->Closes, 1);

    state->OpenErrno = EACCES;
    EXPECT_FALSE(api->Open(path.c_str()));
    EXPECT_EQ(errno, EACCES);
    errno = 0;
    EXPECT_FALSE(api->Open(dir.filePath(QStringLiteral("absent")).toLocal8Bit().constData()));
    EXPECT_EQ(errno, ENOENT);

    const std::vector<tHidDeviceInfo> devices = api->Enumerate();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].Path.toStdString(), path);
    EXPECT_EQ(devices[0].VendorId, 0x0483);
}

TEST_F(HidRawTest, ReadsAndWrites) {
    const struct {
        const char* what;
        std::vector<unsigned char> report; // what the device hands over; empty: nothing comes
        int readErrno;
        int writeErrno;
        int readResult;
        int writeResult;
        const char* reason;
    } rows[] = {
        {"a whole report", std::vector<unsigned char>(64, 1), 0, 0, 64, 64, nullptr},
        {"a short report stays short", std::vector<unsigned char>(10, 1), 0, 0, 10, 64, nullptr},
        {"nothing within the time-out", {}, 0, 0, kHidTimeout, 64, "Timeout"},
        {"the system's reasons kept", {}, EPROTO, EPIPE, kHidFailed, kHidFailed, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        void* device = api->Open(path.c_str());
        ASSERT_TRUE(device);
        state->ReadErrno = row.readErrno;
        state->WriteErrno = row.writeErrno;
        if (!row.report.empty()) state->Reports.push_back(row.report);
        std::uint8_t buffer[64];
        bool immediate = false;
        const int read = api->Read(device, buffer, 64, 20, nullptr, &immediate);
        EXPECT_EQ(read, row.readResult);
        if (row.readErrno != 0) {
            EXPECT_EQ(HidErrorText(read).toStdString(), std::strerror(row.readErrno));
        }
        if (row.reason) {
            EXPECT_EQ(HidErrorText(read).toStdString(), row.reason);
        }
        const std::uint8_t report[64] = {2, 'S'};
        const int written = api->Write(device, report, 64, 500, &immediate);
        EXPECT_EQ(written, row.writeResult);
        if (row.writeErrno != 0) {
            EXPECT_EQ(HidErrorText(written).toStdString(), std::strerror(row.writeErrno));
        }
        api->Close(device);
    }
}

TEST_F(HidRawTest, AStuckWriteTimesOutAndTheCloseWaitsForIt) {
    void* device = api->Open(path.c_str());
    ASSERT_TRUE(device);
    // Bounds far from each other: the caller's 50 ms against the device's 2 s.
    state->WriteDelayMs = 2000;
    const std::uint8_t report[64] = {2, 'I'};
    bool immediate = true;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(api->Write(device, report, 64, 50, &immediate), kHidTimeout);
    EXPECT_FALSE(immediate);
    EXPECT_LT(timer.elapsed(), 1000) << "the caller waits its time-out, not the device's";
    EXPECT_EQ(api->Write(device, report, 64, 50, &immediate), kHidTimeout) << "still stuck: at once";
    EXPECT_LT(timer.elapsed(), 1000);
    api->Close(device);
    EXPECT_GE(timer.elapsed(), 1990) << "the handle outlives the write in the kernel";
    EXPECT_EQ(state->Writes, 1);
}
