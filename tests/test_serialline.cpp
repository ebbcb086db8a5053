// The termios serial shim on a pseudo-terminal: time-outs, partial reads, writes, purge, rates, refusals.
#include "platform/CommApi.h"
#include "support/QtPrint.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace {

using tClock = std::chrono::steady_clock;

class SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        // The shim opens the line itself; the test keeps only the far end.
        ::close(slave);
        handle = api.CreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_TRUE(IsValidHandle(handle)) << strerror(errno);
    }
    void TearDown() override {
        if (IsValidHandle(handle)) api.CloseHandle(handle);
        ::close(master);
    }
    void SetReadTimeout(DWORD constant) {
        tCommTimeouts t = {0, 0, constant, 0, 500};
        ASSERT_TRUE(api.SetCommTimeouts(handle, &t));
    }
    void FromSensor(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    const tCommApi& api = TermiosComApi();
    int master = -1;
    int slave = -1;
    std::string path;
    HANDLE handle = InvalidHandle();
};

} // namespace

// Time bounds only where a wrong shim would be far off: a read that waited its whole time-out of 10 s though
// all bytes were there, or one that came back before its time-out without them.
TEST_F(SerialLineTest, ReadReturnsWhenAllBytesCameOrTheTotalTimeoutRanOut) {
    SetReadTimeout(10000);
    FromSensor("abc");
    unsigned char buffer[16] = {};
    DWORD got = 0;
    auto start = tClock::now();
    ASSERT_TRUE(api.ReadFile(handle, buffer, 3, &got, nullptr));
    EXPECT_EQ(got, 3u);
    EXPECT_LT(tClock::now() - start, std::chrono::seconds(5)) << "all bytes there: no waiting";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");

    // Bytes that come in pieces during the wait are collected, and the read ends with the last of them.
    std::thread late([this] {
        FromSensor("12");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        FromSensor("345");
    });
    start = tClock::now();
    ASSERT_TRUE(api.ReadFile(handle, buffer, 5, &got, nullptr));
    late.join();
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "12345");
    EXPECT_LT(tClock::now() - start, std::chrono::seconds(5));

    SetReadTimeout(200);
    FromSensor("de");
    start = tClock::now();
    ASSERT_TRUE(api.ReadFile(handle, buffer, 5, &got, nullptr));
    EXPECT_EQ(got, 2u) << "a short read still succeeds";
    EXPECT_GE(tClock::now() - start, std::chrono::milliseconds(190)) << "after its whole time-out";
}

TEST_F(SerialLineTest, WritesReachTheFarEndRaw) {
    unsigned char request[] = {'I', 'N', 'F', 'O', 0, '\r', '\n', 0xFF};
    DWORD written = 0;
    ASSERT_TRUE(api.WriteFile(handle, request, sizeof request, &written, nullptr));
    EXPECT_EQ(written, sizeof request);
    unsigned char seen[16] = {};
    ssize_t total = 0;
    while (total < ssize_t(sizeof request)) {
        pollfd far{master, POLLIN, 0};
        ASSERT_EQ(::poll(&far, 1, 10000), 1) << "the bytes reach the far end";
        const ssize_t got = ::read(master, seen + total, sizeof seen - std::size_t(total));
        ASSERT_GT(got, 0);
        total += got;
    }
    ASSERT_EQ(total, ssize_t(sizeof request));
    EXPECT_EQ(0, memcmp(seen, request, sizeof request)) << "no CR/LF translation, zero bytes kept";
}

TEST_F(SerialLineTest, PurgeDropsWhatWaits) {
    SetReadTimeout(10000);
    FromSensor("stale");
    // Its first byte read proves that the rest waits in the line.
    unsigned char buffer[8];
    DWORD got = 99;
    ASSERT_TRUE(api.ReadFile(handle, buffer, 1, &got, nullptr));
    ASSERT_EQ(got, 1u);
    ASSERT_TRUE(api.PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR));
    SetReadTimeout(50);
    ASSERT_TRUE(api.ReadFile(handle, buffer, 4, &got, nullptr));
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialLineTest, AnyRateIsAcceptedAndReadBack) {
    for (const DWORD rate : {38400u, 921600u, 250000u, 123457u}) {
        tDCB dcb = {};
        ASSERT_TRUE(api.GetCommState(handle, &dcb));
        dcb.BaudRate = rate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetRtsControl(dcb, RTS_CONTROL_ENABLE);
        ASSERT_TRUE(api.SetCommState(handle, &dcb)) << rate;
        tDCB back = {};
        ASSERT_TRUE(api.GetCommState(handle, &back));
        EXPECT_EQ(back.BaudRate, rate);
        EXPECT_EQ(back.ByteSize, 8);
        EXPECT_EQ(back.Parity, 0);
        EXPECT_EQ(back.StopBits, 0);
    }
    tDCB bad = {};
    api.GetCommState(handle, &bad);
    bad.ByteSize = 9;
    EXPECT_FALSE(api.SetCommState(handle, &bad));
}

TEST_F(SerialLineTest, ModemStatusOfAPseudoTerminalCannotBeRead) {
    DWORD status = 0;
    errno = 0;
    EXPECT_FALSE(api.GetCommModemStatus(handle, &status));
    EXPECT_NE(errno, 0);
    // Control lines that a pseudo-terminal lacks are not failures of the other calls.
    EXPECT_TRUE(api.EscapeCommFunction(handle, SETRTS));
    EXPECT_TRUE(api.ClearCommBreak(handle));
}

TEST_F(SerialLineTest, PortIsNotSharedAndBadHandlesFail) {
    HANDLE second = api.CreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_FALSE(IsValidHandle(second));
    EXPECT_EQ(errno, EBUSY);
    HANDLE missing = api.CreateFile("/dev/zorbinka-no-such-port", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(IsValidHandle(missing));
    EXPECT_EQ(errno, ENOENT);

    DWORD n = 0;
    unsigned char byte = 0;
    EXPECT_FALSE(api.ReadFile(InvalidHandle(), &byte, 1, &n, nullptr));
    EXPECT_FALSE(api.CloseHandle(InvalidHandle()));
    EXPECT_TRUE(api.CloseHandle(handle));
    handle = InvalidHandle();
}
