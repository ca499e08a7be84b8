// Overlapped transfers, their records and the status queries. The ports here watch no events,
// so the driver's log holds only what the operations do.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

class TransfersTest : public PortTest {
 protected:
  TransfersTest() { port.SetEvents({}); }
};

TEST_F(TransfersTest, WriteCompletingAtOnceReturnsTheCountFromBothHalves) {
  OpenQuietly();
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  EXPECT_EQ(port.BeginWrite("hello", 5, rec), 5);
  EXPECT_EQ(rec->Kind, tkWrite);
  EXPECT_EQ(port.WaitTransfer(rec), 5);
  FreeTransferRecord(rec);
  EXPECT_EQ(rec, nullptr);
  EXPECT_EQ(fake.Written(), "hello");
  EXPECT_EQ(fake.CallNames(), (std::vector<std::string>{"WriteFile", "GetOverlappedResult"}));
  EXPECT_EQ(fake.LastCall("GetOverlappedResult").args, std::vector<std::uint32_t>{0});
}

TEST_F(TransfersTest, PendingWriteReturnsZeroThenTheCountWhenItCompletes) {
  fake.SetWriteCompletion(fake::Completion::Pending);
  OpenQuietly();
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  EXPECT_EQ(port.BeginWrite("abc", 3, rec), 0);
  EXPECT_EQ(fake.Written(), "");
  std::thread device([&] {
    fake.WaitUntil([&] { return fake.CountOf("WriteFile") == 1; });
    fake.CompletePendingWrites();
  });
  EXPECT_EQ(port.WaitTransfer(rec), 3);
  device.join();
  FreeTransferRecord(rec);
  EXPECT_EQ(fake.Written(), "abc");
}

TEST_F(TransfersTest, BeginWriteStringSendsItsOwnCopyOfTheText) {
  fake.SetWriteCompletion(fake::Completion::Pending);
  OpenQuietly();
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  {
    std::string text = "erase 0x1000";
    EXPECT_EQ(port.BeginWriteString(text, rec), 0);
    text.assign(text.size(), '#');  // the caller's storage changes before the bytes go out
  }
  fake.CompletePendingWrites();
  EXPECT_EQ(port.WaitTransfer(rec), 12);
  FreeTransferRecord(rec);
  EXPECT_EQ(fake.Written(), "erase 0x1000");
}

TEST_F(TransfersTest, EmptyWritesSendNothingAndReturnZero) {
  OpenQuietly();
  EXPECT_EQ(port.Write("ignored", 0), 0);
  EXPECT_EQ(port.WriteString(""), 0);
  EXPECT_EQ(fake.Written(), "");
  EXPECT_EQ(fake.CountOf("WriteFile"), 2);
}

TEST_F(TransfersTest, WriteAndWriteStringBlockUntilTheDriverCompletes) {
  fake.SetWriteCompletion(fake::Completion::Pending);
  OpenQuietly();
  std::thread device([&] {
    for (int i = 1; i <= 2; ++i) {
      fake.WaitUntil([&] { return fake.PendingWrites() == 1; });
      fake.CompletePendingWrites();
    }
  });
  EXPECT_EQ(port.Write("\n", 1), 1);
  EXPECT_EQ(port.WriteString("protect off\n"), 12);
  device.join();
  EXPECT_EQ(fake.Written(), "\nprotect off\n");
}

TEST_F(TransfersTest, ReadTakesWhatIsQueuedAtOnce) {
  OpenQuietly();
  fake.Receive("box> ");
  char buf[16] = {};
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  EXPECT_EQ(port.BeginRead(buf, 5, rec), 5);
  EXPECT_EQ(rec->Kind, tkRead);
  EXPECT_EQ(port.WaitTransfer(rec), 5);
  FreeTransferRecord(rec);
  EXPECT_EQ(std::string(buf, 5), "box> ");
}

TEST_F(TransfersTest, ReadReturnsTheBytesThatArrivedBeforeTheTimeoutsExpired) {
  fake.SetReadCompletion(fake::Completion::Pending);
  OpenQuietly();
  std::thread device([&] {
    fake.WaitUntil([&] { return fake.PendingReads() == 1; });
    fake.Receive("abcd");
    fake.CompleteReads();  // the read timeouts expire
  });
  char buf[10] = {};
  EXPECT_EQ(port.Read(buf, 10), 4);
  device.join();
  EXPECT_EQ(std::string(buf, 4), "abcd");
}

TEST_F(TransfersTest, PendingReadCompletesWhenFull) {
  fake.SetReadCompletion(fake::Completion::Pending);
  OpenQuietly();
  char buf[6] = {};
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  EXPECT_EQ(port.BeginRead(buf, 6, rec), 0);
  fake.Receive("abc");
  fake.Receive("defgh");
  EXPECT_EQ(port.WaitTransfer(rec), 6);
  FreeTransferRecord(rec);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(fake.InputQueued(), 2u);
}

TEST_F(TransfersTest, PurgeEndsPendingTransfersWithTheirKindsCode) {
  fake.SetReadCompletion(fake::Completion::Pending);
  fake.SetWriteCompletion(fake::Completion::Pending);
  OpenQuietly();
  char buf[4];
  TransferRecord* readRec = nullptr;
  TransferRecord* writeRec = nullptr;
  NewTransferRecord(readRec);
  NewTransferRecord(writeRec);
  port.BeginRead(buf, 4, readRec);
  port.BeginWrite("data", 4, writeRec);
  port.PurgeBuffers();
  EXPECT_EQ(fake.LastCall("PurgeComm").args, std::vector<std::uint32_t>{3});
  EComPort e = CatchComPort([&] { port.WaitTransfer(writeRec); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), 995);
  e = CatchComPort([&] { port.WaitTransfer(readRec); });
  EXPECT_EQ(e.ErrorCode(), 3);
  EXPECT_EQ(e.SystemErrorCode(), 995);
  EXPECT_EQ(e.Message(), "ReadFile function failed (win error code: 995)");
  FreeTransferRecord(readRec);
  FreeTransferRecord(writeRec);
}

TEST_F(TransfersTest, BlockingTransfersRaiseWhenAbortedByClose) {
  fake.SetReadCompletion(fake::Completion::Pending);
  OpenQuietly();
  std::thread closer([&] {
    fake.WaitUntil([&] { return fake.PendingReads() == 1; });
    fake.PurgeComm(port.DeviceHandle(), 3);  // as Close's purge would
  });
  char buf[4];
  const EComPort e = CatchComPort([&] { port.Read(buf, 4); });
  closer.join();
  EXPECT_EQ(e.ErrorCode(), 3);
  EXPECT_EQ(e.SystemErrorCode(), 995);
}

TEST_F(TransfersTest, RefusedStartsRaiseTheirCodesAndLeaveNothingPending) {
  OpenQuietly();
  fake.FailNext("WriteFile", 31);
  EComPort e = CatchComPort([&] { port.Write("x", 1); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), 31);
  EXPECT_EQ(fake.CountOf("GetOverlappedResult"), 0);

  fake.FailNext("WriteFile", 1167);
  e = CatchComPort([&] { port.WriteString("abc"); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), 1167);

  fake.FailNext("ReadFile", 6);
  char buf[2];
  e = CatchComPort([&] { port.Read(buf, 2); });
  EXPECT_EQ(e.ErrorCode(), 3);
  EXPECT_EQ(e.SystemErrorCode(), 6);
  EXPECT_EQ(fake.PendingReads(), 0);
  EXPECT_EQ(fake.PendingWrites(), 0);
}

TEST_F(TransfersTest, FailedResultRaisesTheCodeOfTheRecordsKind) {
  OpenQuietly();
  fake.FailNext("GetOverlappedResult", 1167);
  EComPort e = CatchComPort([&] { port.Write("x", 1); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), 1167);
  fake.Receive("y");
  fake.FailNext("GetOverlappedResult", 87);
  char c;
  e = CatchComPort([&] { port.Read(&c, 1); });
  EXPECT_EQ(e.ErrorCode(), 3);
  EXPECT_EQ(e.SystemErrorCode(), 87);
}

TEST_F(TransfersTest, WaitTransferOnAFreshRecordIsACompletedTransferOfNothing) {
  OpenQuietly();
  TransferRecord* rec = nullptr;
  NewTransferRecord(rec);
  ASSERT_NE(rec, nullptr);
  EXPECT_NE(rec->Overlapped.hEvent, nullptr);
  EXPECT_EQ(rec->Overlapped.Offset, 0u);
  EXPECT_EQ(rec->Overlapped.OffsetHigh, 0u);
  EXPECT_EQ(port.WaitTransfer(rec), 0);
  FreeTransferRecord(rec);
}

TEST_F(TransfersTest, WaitTransferWithoutARecordRaisesCode4WithoutSystemError) {
  TransferRecord* rec = nullptr;
  const EComPort e = CatchComPort([&] { port.WaitTransfer(rec); });
  EXPECT_EQ(e.ErrorCode(), 4);
  EXPECT_EQ(e.SystemErrorCode(), -1);
  EXPECT_EQ(e.Message(), "Invalid Async parameter");
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(TransfersTest, BeginOperationsRefuseAMissingRecordLikeWaitTransfer) {
  OpenQuietly();
  TransferRecord* rec = nullptr;
  char buf[1];
  EXPECT_EQ(CatchComPort([&] { port.BeginWrite("x", 1, rec); }).ErrorCode(), 4);
  EXPECT_EQ(CatchComPort([&] { port.BeginWriteString("x", rec); }).ErrorCode(), 4);
  EXPECT_EQ(CatchComPort([&] { port.BeginRead(buf, 1, rec); }).ErrorCode(), 4);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(TransfersTest, BytesWaitingCountsTheInputQueue) {
  OpenQuietly();
  EXPECT_EQ(port.BytesWaiting(), 0);
  fake.Receive("12345");
  EXPECT_EQ(port.BytesWaiting(), 5);
  fake.FailNext("ClearCommError", 22);
  const EComPort e = CatchComPort([&] { port.BytesWaiting(); });
  EXPECT_EQ(e.ErrorCode(), 10);
  EXPECT_EQ(e.SystemErrorCode(), 22);
}

TEST_F(TransfersTest, PendingErrorsReportsParityOnlyWhileChecked) {
  OpenQuietly();
  fake.AddErrors(drv::kCeRxParity | drv::kCeFrame | drv::kCeOverrun);
  EXPECT_EQ(port.PendingErrors(), (TComErrors{ceFrame, ceOverrun}));
  port.Parity().SetCheck(true);
  fake.AddErrors(drv::kCeRxParity | drv::kCeFrame);
  EXPECT_EQ(port.PendingErrors(), (TComErrors{ceFrame, ceRxParity}));
}

TEST_F(TransfersTest, EachClearCommErrorConsumesTheErrorsSoFar) {
  OpenQuietly();
  fake.AddErrors(drv::kCeFrame);
  port.BytesWaiting();
  fake.AddErrors(drv::kCeBreak);
  EXPECT_EQ(port.PendingErrors(), TComErrors{ceBreak});
  EXPECT_EQ(port.PendingErrors(), TComErrors{});
}

TEST_F(TransfersTest, ModemSignalsReportsTheLinesThatAreOn) {
  OpenQuietly();
  fake.SetModemStatus(drv::kMsCtsOn | drv::kMsRlsdOn);
  EXPECT_EQ(port.ModemSignals(), (TLineSignals{lsCTS, lsRLSD}));
  fake.FailNext("GetCommModemStatus", 1167);
  const EComPort e = CatchComPort([&] { port.ModemSignals(); });
  EXPECT_EQ(e.ErrorCode(), 11);
  EXPECT_EQ(e.SystemErrorCode(), 1167);
}

TEST_F(TransfersTest, NeverOpenedPortFailsInEachDriverCall) {
  EComPort e = CatchComPort([&] { port.BytesWaiting(); });
  EXPECT_EQ(e.ErrorCode(), 10);
  EXPECT_EQ(e.SystemErrorCode(), 6);
  e = CatchComPort([&] { port.ModemSignals(); });
  EXPECT_EQ(e.ErrorCode(), 11);
  EXPECT_EQ(e.SystemErrorCode(), 6);
  e = CatchComPort([&] { port.PendingErrors(); });
  EXPECT_EQ(e.ErrorCode(), 10);
  e = CatchComPort([&] { port.PurgeBuffers(); });
  EXPECT_EQ(e.ErrorCode(), 5);
  EXPECT_EQ(e.SystemErrorCode(), 6);
  char c;
  EXPECT_EQ(CatchComPort([&] { port.Read(&c, 1); }).ErrorCode(), 3);
  for (const fake::FakeCall& call : fake.Calls()) {
    EXPECT_EQ(call.handle, drv::kInvalidHandle) << call.name;
  }
}

}  // namespace
}  // namespace serial_test
