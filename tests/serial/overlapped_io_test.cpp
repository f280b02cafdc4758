// Overlapped reads and writes on board ports: when they complete and with what, how results are
// collected, what closing and purging do to pending ones, and the output queue they leave.
#include <thread>
#include <vector>

#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

using OverlappedIoTest = BoardTest;

TEST_F(OverlappedIoTest, AReadCompletesAfterItsTimeoutWithWhatArrivedOrAtOnceWhenFull) {
    Handle port(OpenPort(1));
    ASSERT_TRUE(Loopback(port.get(), true));
    char buffer[16];
    DWORD count = 99;
    for (const std::string arriving : {"", "0123456789"}) {
        Overlapped read;
        Clock::time_point start = Clock::now();
        ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &count, &read.ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_FALSE(GetOverlappedResult(port.get(), &read.ov, &count, FALSE));
        EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
        ASSERT_TRUE(arriving.empty() || WriteAll(port.get(), arriving));
        ASSERT_TRUE(read.Wait());
        EXPECT_GE(Since(start), 48ms) << "a read that is not full waits its whole time-out";
        if (kTimingAsserted) {
            EXPECT_LT(Since(start), 50ms + kPrompt);
        }
        ASSERT_TRUE(GetOverlappedResult(port.get(), &read.ov, &count, FALSE));
        EXPECT_EQ(std::string(buffer, count), arriving);
    }

    // Every byte value, unchanged (no echo, translation or signals), completes a full buffer
    // at once.
    std::string all(256, '\0');
    for (int value = 0; value < 256; ++value) {
        all[value] = static_cast<char>(value);
    }
    ASSERT_TRUE(SetReadTimeout(port.get(), 5000));
    ASSERT_TRUE(WriteAll(port.get(), all));
    COMSTAT status{};
    ASSERT_TRUE(test::WaitFor(
        [&] { return ClearCommError(port.get(), nullptr, &status) && status.cbInQue >= 256; }));
    Overlapped full;
    std::string got(256, ' ');
    Clock::time_point start = Clock::now();
    ReadFile(port.get(), got.data(), 256, &count, &full.ov);
    ASSERT_TRUE(full.Wait());
    if (kTimingAsserted) {
        EXPECT_LT(Since(start), kPrompt) << "a full buffer does not wait for the time-out";
    }
    ASSERT_TRUE(GetOverlappedResult(port.get(), &full.ov, &count, FALSE));
    EXPECT_EQ(got, all);

    // A pending read whose buffer fills while it waits completes then, not at its time-out,
    // however the bytes come: a few after it was issued, then the rest.
    Overlapped filling;
    start = Clock::now();
    ASSERT_FALSE(ReadFile(port.get(), got.data(), 256, &count, &filling.ov));
    ASSERT_TRUE(WriteAll(port.get(), all.substr(0, 16)));
    ASSERT_TRUE(WriteAll(port.get(), all.substr(16)));
    ASSERT_TRUE(filling.Wait());
    if (kTimingAsserted) {
        EXPECT_LT(Since(start), kPrompt) << "a buffer filled while pending completes at once";
    }
    ASSERT_TRUE(GetOverlappedResult(port.get(), &filling.ov, &count, FALSE));
    EXPECT_EQ(got, all);
}

TEST_F(OverlappedIoTest, AWriteCompletesWhenAcceptedAndItsOverlappedNamesIt) {
    Handle port(OpenPort(1, 300));
    std::string data(200, 'w');
    Overlapped write;
    DWORD count = 0;
    WriteFile(port.get(), data.data(), 200, &count, &write.ov);
    ASSERT_TRUE(write.Wait());
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(port.get(), nullptr, &status));
    EXPECT_GT(status.cbOutQue, 0u) << "complete once the board took it, not once the line (6.7 s)";
    HANDLE raw = port.get();
    for (HANDLE handle : {raw, INVALID_HANDLE_VALUE, raw}) {
        count = 0;
        ASSERT_TRUE(GetOverlappedResult(handle, &write.ov, &count, FALSE));
        EXPECT_EQ(count, 200u) << "with any handle, and after the port is closed";
        port.Close();
    }
    Overlapped unused;
    EXPECT_FALSE(GetOverlappedResult(raw, &unused.ov, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(OverlappedIoTest, OutputQueueFollowsWhatIsStillToBeSentWhileALineDrains) {
    Handle port(OpenPort(1, 9600));
    ASSERT_TRUE(Loopback(port.get(), true));
    ASSERT_TRUE(SetReadTimeout(port.get(), 0, MAXDWORD));
    const DWORD total = 20000;  // far more than the board's 4 KiB transmit buffer
    std::string data(total, 'q');
    Overlapped write;
    DWORD count = 0;
    WriteFile(port.get(), data.data(), total, &count, &write.ov);
    std::size_t received = 0;
    std::vector<char> buffer(total);
    // A sanitizer slows the reading side enough for one more piece to be on its way unseen.
    const long tolerance = vyn::test::SanitizedBuild() ? 128 : 64;
    // What has left the transmitter may wait, in neither queue, for the system to pass it on; a
    // busy machine holds it there for a good part of a second's line time (960 characters).
    const long inTransit = 300;
    for (Clock::time_point start = Clock::now(); Since(start) < 1500ms;) {
        COMSTAT status{};
        ASSERT_TRUE(ClearCommError(port.get(), nullptr, &status));
        long unreceived = static_cast<long>(total - received - status.cbInQue);
        long queued = static_cast<long>(status.cbOutQue);
        EXPECT_LE(queued, unreceived + tolerance) << Since(start).count();
        EXPECT_GE(queued, unreceived - tolerance - inTransit) << Since(start).count();
        DWORD got = 0;
        Overlapped read;
        if (!ReadFile(port.get(), buffer.data(), total, &got, &read.ov)) {
            ASSERT_TRUE(read.Wait());
            ASSERT_TRUE(GetOverlappedResult(port.get(), &read.ov, &got, FALSE));
        }
        received += got;
        std::this_thread::sleep_for(50ms);  // a sampling period
    }
    EXPECT_GT(received, 500u);
    EXPECT_FALSE(write.Wait(0)) << "the board holds the rest of the write back";
    EXPECT_TRUE(port.Close()) << "ends the write before its buffer goes";
}

TEST_F(OverlappedIoTest, ClosingEndsPendingOperationsAsAbortedAndPurgeEmptiesTheQueue) {
    Handle port(OpenPort(1, 300));
    ASSERT_TRUE(SetReadTimeout(port.get(), 0));  // a read waits for a full buffer
    std::string data(10000, 'x');
    char buffer[64];
    DWORD count = 0;
    Overlapped read;
    Overlapped write;
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &count, &read.ov));
    ASSERT_FALSE(WriteFile(port.get(), data.data(), 10000, &count, &write.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &count, &read.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "that OVERLAPPED is still in use";
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(port.get(), nullptr, &status));
    EXPECT_GT(status.cbOutQue, 1000u);
    EXPECT_FALSE(write.Wait(100));

    HANDLE raw = port.get();
    ASSERT_TRUE(port.Close());
    ASSERT_TRUE(read.Wait() && write.Wait());
    DWORD readCount = 99;
    DWORD writeCount = 0;
    EXPECT_FALSE(GetOverlappedResult(raw, &read.ov, &readCount, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(readCount, 0u);
    EXPECT_FALSE(GetOverlappedResult(raw, &write.ov, &writeCount, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_GT(writeCount, 0u) << "the bytes handed over so far";
    EXPECT_LT(writeCount, 10000u);

    Handle again(OpenDevice("COM1"));
    EXPECT_TRUE(again.valid()) << "released at once: " << GetLastError();
    EXPECT_FALSE(ReadFile(raw, buffer, sizeof buffer, &count, &read.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_TRUE(WriteAll(again.get(), std::string(240, 't')));  // eight seconds at 300 baud
    ASSERT_TRUE(ClearCommError(again.get(), nullptr, &status));
    EXPECT_GT(status.cbOutQue, 100u);
    ASSERT_TRUE(PurgeComm(again.get(), PURGE_TXCLEAR | PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(again.get(), nullptr, &status));
    EXPECT_EQ(status.cbOutQue, 0u);
    EXPECT_FALSE(PurgeComm(again.get(), 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(OverlappedIoTest, APortWhoseBoardIsGoneFailsItsOperationsInsteadOfHanging) {
    Handle port(OpenPort(1));
    ASSERT_TRUE(SetReadTimeout(port.get(), 0));
    char buffer[16];
    Overlapped read;
    DWORD count = 0;
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &count, &read.ov));
    ASSERT_EQ(StopBoard(), 0);
    ASSERT_TRUE(read.Wait()) << "the hang-up ends the read";
    EXPECT_FALSE(GetOverlappedResult(port.get(), &read.ov, &count, FALSE));
    EXPECT_NE(GetLastError(), ERROR_IO_INCOMPLETE);
    Overlapped write;
    EXPECT_FALSE(WriteFile(port.get(), "x", 1, &count, &write.ov));
    EXPECT_NE(GetLastError(), ERROR_IO_PENDING);
    COMSTAT status{};
    EXPECT_FALSE(ClearCommError(port.get(), nullptr, &status)) << "no board to ask";
}

}  // namespace
}  // namespace vyn::serial_test
