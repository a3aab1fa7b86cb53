#include "net/xhttp_multi.h"

#include <gtest/gtest.h>

#include <string>

#include "harness/test_env.h"
#include "net/transfer_messages.h"
#include "net_test_util.h"

namespace {

using nettest::GenBody;
using nettest::MessageRecorder;
using tw::WM_XHTTP_COMPLETE;
using tw::WM_XHTTP_ERR;
using tw::WM_XHTTP_MULTI_CHOSEN;
using tw::WM_XHTTP_PROGRESS;
using tw::WM_XHTTP_START;

constexpr DWORD kWaitMs = 60000;

int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class XHttpMultiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = nettest::HttpBase();
    if (base_.empty()) GTEST_SKIP() << "no test server (TW_HTTP_PORT unset)";
    request_.filePath = twtest::MakeScratchFolder(L"multi") + L"setup.bin";
    request_.targetWindow = recorder_.window();
    options_.receiveTimeout = 5000;
  }
  void Run() {
    startTick_ = GetTickCount();
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request_, &options_, &result_)) << GetLastError();
    ASSERT_TRUE(recorder_.WaitComplete(kWaitMs)) << recorder_.Sequence();
  }
  LPARAM Value(UINT message) const {
    const auto list = recorder_.Of(message);
    return list.empty() ? LPARAM(-12345) : list.back().value;
  }
  std::string FileContent() const {
    std::string body;
    EXPECT_TRUE(twtest::ReadWholeFile(request_.filePath, &body));
    return body;
  }
  void ExpectProgressGrows() const {
    LPARAM last = 0;
    for (const auto& m : recorder_.Of(WM_XHTTP_PROGRESS)) {
      EXPECT_GT(m.value, last);
      last = m.value;
    }
  }

  std::wstring base_;
  tw::XHttpMultiRequest request_;
  tw::XHttpOptions options_;
  tw::XHttpMultiResult result_;
  MessageRecorder recorder_;
  DWORD startTick_ = 0;
};

TEST_F(XHttpMultiTest, PickByBytesChoosesTheLeaderAndStopsTheOthers) {
  options_.pickMs = 0;  // bytes alone decide
  // Long enough for the leader to outlast the pick window.
  request_.urls[0] = base_ + L"/gen/2000000?rate=100000";
  request_.urls[2] = base_ + L"/gen/2000000?rate=2000000";
  request_.urls[4] = base_ + L"/gen/2000000?rate=50000";
  Run();
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,CHOSEN,PROGRESS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_START), 2000000);
  EXPECT_EQ(Value(WM_XHTTP_MULTI_CHOSEN), 2);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  EXPECT_EQ(result_.chosenIndex, 2);
  EXPECT_EQ(result_.chosenUrl, request_.urls[2]);
  EXPECT_EQ(result_.errLine, 0);
  ExpectProgressGrows();
  // The choice came after the lead had passed 262,144 bytes.
  LPARAM before = 0;
  for (const auto& m : recorder_.messages()) {
    if (m.message == WM_XHTTP_MULTI_CHOSEN) break;
    if (m.message == WM_XHTTP_PROGRESS) before = m.value;
  }
  EXPECT_GT(before, 262144);
  EXPECT_TRUE(FileContent() == GenBody(2000000));
  // The losers were stopped: the whole race took far less than the 40 s the
  // slowest mirror would need.
  EXPECT_LT(recorder_.Of(WM_XHTTP_COMPLETE)[0].tick - startTick_, 4000u);
}

TEST_F(XHttpMultiTest, PickByTimeChoosesTheNextLeaderAfterPickMs) {
  options_.pickMs = 300;
  request_.urls[1] = base_ + L"/gen/150000?rate=40000";
  request_.urls[3] = base_ + L"/gen/150000?rate=150000";
  Run();
  EXPECT_EQ(recorder_.Count(WM_XHTTP_MULTI_CHOSEN), 1u);
  EXPECT_EQ(Value(WM_XHTTP_MULTI_CHOSEN), 3);
  EXPECT_EQ(result_.chosenIndex, 3);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  // Chosen on time, long before the leader had 262,144 bytes (it never has).
  const DWORD chosenAt = recorder_.Of(WM_XHTTP_MULTI_CHOSEN)[0].tick;
  EXPECT_GE(chosenAt - recorder_.Of(WM_XHTTP_START)[0].tick, 250u);
  EXPECT_TRUE(FileContent() == GenBody(150000));
}

TEST_F(XHttpMultiTest, SmallFileFinishingBeforeAnyPickSucceedsUnchosen) {
  request_.urls[0] = base_ + L"/gen/20000";
  Run();
  EXPECT_EQ(recorder_.Count(WM_XHTTP_MULTI_CHOSEN), 0u);
  EXPECT_EQ(recorder_.Count(WM_XHTTP_ERR), 0u);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  EXPECT_TRUE(result_.chosenUrl.empty());
  EXPECT_EQ(result_.chosenIndex, -1);
  EXPECT_TRUE(FileContent() == GenBody(20000));
}

TEST_F(XHttpMultiTest, EmptyBodySucceeds) {
  request_.urls[0] = base_ + L"/gen/0";
  Run();
  EXPECT_EQ(recorder_.Sequence(), "START,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  EXPECT_EQ(FileSize(request_.filePath), 0);
}

TEST_F(XHttpMultiTest, DifferentLengthsAtTheFirstAnswerFail) {
  // The pause before slots 1..4 lets both mirrors answer before the
  // controller looks for the first answer.
  request_.sleepInterval = 150;
  request_.urls[0] = base_ + L"/gen/1000";
  request_.urls[1] = base_ + L"/gen/1001";
  Run();
  EXPECT_EQ(recorder_.Sequence(), "START,ERR,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_ERR), tw::XHttpMultiErrLengthMismatch);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  EXPECT_EQ(result_.errLine, 346);
  EXPECT_EQ(FileSize(request_.filePath), 0);  // left empty for the caller
}

TEST_F(XHttpMultiTest, NoUrlFailsAfterFourPauses) {
  request_.sleepInterval = 60;
  Run();
  EXPECT_EQ(recorder_.Sequence(), "ERR,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_ERR), tw::XHttpMultiErrNoUrl);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  EXPECT_EQ(result_.errLine, 282);
  EXPECT_GE(recorder_.Of(WM_XHTTP_ERR)[0].tick - startTick_, 4u * 60u - 20u);
}

TEST_F(XHttpMultiTest, ChosenMirrorFailingEndsWithoutFallback) {
  struct Case {
    const char* what;
    std::wstring url;
  };
  const Case cases[] = {
      // Both fail long after the pick window has closed (about 0.6 s).
      {"drops after the choice", L"/gen/4000000?rate=3000000&drop_after=3500000"},
      {"no Content-Length", L"/gen/4000000?rate=3000000&nolength=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder recorder;
    tw::XHttpMultiRequest request = request_;
    request.targetWindow = recorder.window();
    request.urls[0] = base_ + c.url;
    // A good but slow mirror that is stopped once mirror 0 is chosen.
    request.urls[1] = base_ + L"/gen/4000000?rate=50000";
    tw::XHttpMultiResult result;
    options_.pickMs = 0;
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, &options_, &result));
    ASSERT_TRUE(recorder.WaitComplete(kWaitMs));
    EXPECT_EQ(recorder.Count(WM_XHTTP_ERR), 0u);
    EXPECT_EQ(recorder.Of(WM_XHTTP_MULTI_CHOSEN).at(0).value, 0);
    EXPECT_EQ(recorder.Of(WM_XHTTP_COMPLETE).at(0).value, 0);
    EXPECT_EQ(result.errLine, 526);
    EXPECT_EQ(result.chosenIndex, 0);
    EXPECT_EQ(FileSize(request.filePath), 0);
  }
}

TEST_F(XHttpMultiTest, NoMirrorSucceeding) {
  struct Case {
    const char* what;
    std::wstring urls[2];
    int err;
  };
  const Case cases[] = {
      // The last worker to fail gives the code: the 404 comes 300 ms late.
      {"404 last", {L"/gen/10?status=503", L"/gen/10?status=404&delay_ms=300"}, tw::XHttpErrStatus4xx},
      {"refused", {L"", L"http://127.0.0.1:1/x"}, tw::XHttpErrSendRequest},
      {"no length, small", {L"/gen/1000?nolength=1", L""}, tw::XHttpMultiErrNoMirror},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder recorder;
    tw::XHttpMultiRequest request = request_;
    request.targetWindow = recorder.window();
    for (int i = 0; i < 2; ++i) {
      const std::wstring& u = c.urls[i];
      request.urls[i] = u.empty() ? u : (u[0] == L'/' ? base_ + u : u);
    }
    tw::XHttpMultiResult result;
    options_.connectRetries = 1;
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, &options_, &result));
    ASSERT_TRUE(recorder.WaitComplete(kWaitMs));
    EXPECT_EQ(recorder.Of(WM_XHTTP_ERR).at(0).value, c.err);
    EXPECT_EQ(recorder.Of(WM_XHTTP_COMPLETE).at(0).value, 0);
    EXPECT_EQ(result.errLine, 541);
    EXPECT_EQ(result.httperr, c.err == tw::XHttpMultiErrNoMirror ? 0 : c.err);
    EXPECT_EQ(recorder.Count(WM_XHTTP_MULTI_CHOSEN), 0u);
  }
}

TEST_F(XHttpMultiTest, BodyOver64MiBFailsTheChosenWorker) {
  request_.urls[0] = base_ + L"/gen/67108865";
  Run();
  EXPECT_EQ(Value(WM_XHTTP_MULTI_CHOSEN), 0);
  EXPECT_EQ(recorder_.Count(WM_XHTTP_ERR), 0u);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  EXPECT_EQ(result_.errLine, 526);
}

TEST_F(XHttpMultiTest, FailedFinalWriteDeletesTheFile) {
  const std::wstring dir = twtest::GetEnv(L"TW_FULLDISK_DIR");
  if (dir.empty()) GTEST_SKIP() << "no 1 MiB tmpfs (TW_FULLDISK_DIR; the fixture needs root)";
  request_.filePath = dir + L"multi-full.bin";
  request_.urls[0] = base_ + L"/gen/2000000";
  Run();
  EXPECT_EQ(Value(WM_XHTTP_ERR), tw::XHttpMultiErrFileWrite);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  EXPECT_EQ(result_.errLine, 509);
  EXPECT_EQ(GetFileAttributesW(request_.filePath.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(XHttpMultiTest, OutputFileStaysEmptyDuringTheRace) {
  request_.urls[0] = base_ + L"/gen/300000?rate=600000";
  int64_t sizeAtStart = -2;
  // Pump until START, then look at the file while the body is still coming.
  startTick_ = GetTickCount();
  ASSERT_TRUE(tw::XHttpMulti_GetAsync(request_, &options_, &result_));
  const DWORD deadline = GetTickCount() + 10000;
  while (recorder_.Count(WM_XHTTP_START) == 0 && GetTickCount() < deadline) recorder_.Pump(10);
  ASSERT_EQ(recorder_.Count(WM_XHTTP_START), 1u);
  sizeAtStart = FileSize(request_.filePath);
  ASSERT_TRUE(recorder_.WaitComplete(kWaitMs));
  EXPECT_EQ(sizeAtStart, 0);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  EXPECT_EQ(FileSize(request_.filePath), 300000);
}

TEST_F(XHttpMultiTest, StalledLoserDoesNotDelayCompletion) {
  // Mirror 1 sends a little and then nothing: it is told to stop but can only
  // notice when its read times out, after COMPLETE has been posted.
  options_.receiveTimeout = 3000;
  request_.urls[0] = base_ + L"/gen/2000000?rate=2000000";
  request_.urls[1] = base_ + L"/gen/2000000?stall_after=8192";
  Run();
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  EXPECT_EQ(result_.chosenIndex, 0);
  EXPECT_LT(recorder_.Of(WM_XHTTP_COMPLETE)[0].tick - startTick_, 2500u);
  EXPECT_TRUE(FileContent() == GenBody(2000000));
}

TEST_F(XHttpMultiTest, LockedTargetFileFailsAtOnce) {
  tw::UniqueFile holder(CreateFileW(request_.filePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.IsValid());
  request_.urls[0] = base_ + L"/gen/10";
  SetLastError(0);
  EXPECT_FALSE(tw::XHttpMulti_GetAsync(request_, &options_, &result_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

}  // namespace
