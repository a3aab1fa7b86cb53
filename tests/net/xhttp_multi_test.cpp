// The mirror race against the fixture's servers: the pick, the losers, the
// failures and their error lines, the file written once at the end.
#include "net/xhttp_multi.h"

#include <gtest/gtest.h>

#include <string>

#include "harness/test_util.h"
#include "net/transfer_messages.h"
#include "net/xhttp_multi_pick.h"
#include "net_test_util.h"

namespace {

using nettest::GenBody;
using tw::WM_XHTTP_COMPLETE;
using tw::WM_XHTTP_ERR;
using tw::WM_XHTTP_MULTI_CHOSEN;
using tw::WM_XHTTP_PROGRESS;
using tw::WM_XHTTP_START;

class XHttpMultiTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = nettest::ServerBase();
    ASSERT_FALSE(base_.empty()) << "no test server (TW_HTTP_PORT unset)";
    request_.filePath = twtest::MakeScratchFolder(L"multi") + L"setup.bin";
    request_.targetWindow = recorder_.window();
    options_.receiveTimeout = 5000;
  }
  // Mirror URLs: paths are on the fixture's HTTP server.
  void Run(std::initializer_list<const wchar_t*> urls) {
    int slot = 0;
    for (const wchar_t* url : urls) request_.urls[slot++] = url[0] == L'/' ? base_ + url : url;
    start_ = GetTickCount();
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request_, &options_, result_)) << GetLastError();
    ASSERT_TRUE(recorder_.WaitComplete(60000)) << recorder_.Sequence();
  }
  DWORD MsUntil(UINT message) const { return recorder_.Of(message).at(0).tick - start_; }
  std::string Stored() const {
    std::string body;
    EXPECT_TRUE(twtest::ReadWholeFile(request_.filePath, &body));
    return body;
  }

  std::wstring base_;
  tw::XHttpMultiRequest request_;
  tw::XHttpOptions options_;
  tw::RefPtr<tw::XHttpMultiResult> result_ = tw::XHttpMultiResult::Create();
  nettest::MessageRecorder recorder_;
  DWORD start_ = 0;
};

TEST_F(XHttpMultiTest, PickByBytesChoosesTheLeaderAndStopsTheOthers) {
  options_.pickMs = 0;  // bytes alone decide
  // The mirror in slot 0 makes progress in every scan too, only less.
  Run({L"/gen/3000000?rate=2000000", L"", L"/gen/3000000?rate=6000000", L"", L"/gen/3000000?rate=50000"});
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,CHOSEN,PROGRESS,COMPLETE");
  EXPECT_EQ(recorder_.Last(WM_XHTTP_MULTI_CHOSEN), 2);
  EXPECT_EQ(recorder_.Last(WM_XHTTP_COMPLETE), 1);
  EXPECT_EQ(result_->chosenUrl, request_.urls[2]);
  // Chosen once the lead had passed 262,144 bytes (and a short window more).
  LPARAM before = 0;
  for (const nettest::Message& m : recorder_.messages) {
    if (m.message == WM_XHTTP_MULTI_CHOSEN) break;
    if (m.message == WM_XHTTP_PROGRESS) before = m.value;
  }
  EXPECT_GT(before, 262144);
  EXPECT_TRUE(Stored() == GenBody(3000000));
  EXPECT_LT(MsUntil(WM_XHTTP_COMPLETE), 4000u);  // the slowest mirror alone would take a minute
}

TEST_F(XHttpMultiTest, PickByTimeChoosesTheLeaderAfterPickMs) {
  options_.pickMs = 300;
  Run({L"", L"/gen/150000?rate=40000", L"", L"/gen/150000?rate=150000"});
  EXPECT_EQ(recorder_.Of(WM_XHTTP_MULTI_CHOSEN).size(), 1u);
  EXPECT_EQ(result_->chosenIndex, 3);
  EXPECT_GE(MsUntil(WM_XHTTP_MULTI_CHOSEN), 250u);
  EXPECT_TRUE(Stored() == GenBody(150000));
}

TEST_F(XHttpMultiTest, FailuresAndTheirErrorLines) {
  const struct {
    const char* what;
    const wchar_t* urls[2];  // the second a slow good mirror, when given
    LPARAM err;              // -12345: none posted
    int chosen, errLine;
    DWORD sleepInterval;
    uint32_t pickMs = 0;
  } cases[] = {
      // Both chosen mirrors fail long after the pick window has closed (about 0.6 s).
      {"chosen drops", {L"/gen/4000000?rate=3000000&drop_after=3500000", L"/gen/4000000?rate=50000"}, -12345, 0, 526, 0},
      {"chosen has no length", {L"/gen/4000000?rate=3000000&nolength=1", L"/gen/4000000?rate=50000"}, -12345, 0, 526, 0},
      {"chosen over 64 MiB", {L"/gen/67108865", L""}, -12345, 0, 526, 0},
      // The last mirror to fail gives the code: the 404 comes 2 s late, room for a busy machine.
      {"404 last", {L"/gen/10?status=503", L"/gen/10?status=404&delay_ms=2000"}, tw::XHttpErrStatus4xx, -1, 541, 0},
      {"refused", {L"http://127.0.0.1:1/x", L""}, tw::XHttpErrSendRequest, -1, 541, 0},
      {"small, no length", {L"/gen/1000?nolength=1", L""}, tw::XHttpMultiErrNoMirror, -1, 541, 0},
      // A byte every 10 ms never times a read out; the minimum progress ends it.
      {"drips", {L"/gen/3000?rate=100&chunk=1", L""}, tw::XHttpErrReadFile, -1, 541, 0},
      // Both have answered when the controller first looks, after four pauses (2 s).
      {"lengths differ", {L"/gen/1000", L"/gen/1001"}, tw::XHttpMultiErrLengthMismatch, -1, 346, 500},
      // Chosen, or past pickMs unchosen after the leader failed: 2 KiB/s over each window, or it fails.
      // The leader ends short after 150 ms of pacing that every scan sees (a burst may come and fail
      // between two), long before pickMs: a slow mirror leading after pickMs would be chosen.
      {"chosen, then slower", {L"/gen/400000?burst=300000&rate=1000&chunk=50", L""}, -12345, 0, 526, 0},
      {"unchosen, slower", {L"/gen/150000?length=200000&rate=1000000", L"/gen/200000?rate=1000&chunk=50"},
       tw::XHttpErrReadFile, -1, 541, 0, 3000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    recorder_.messages.clear();
    result_ = tw::XHttpMultiResult::Create();
    options_.pickMs = c.pickMs;
    options_.connectRetries = 1;
    options_.stallWindowMs = 1500;
    request_.sleepInterval = c.sleepInterval;
    Run({c.urls[0], c.urls[1]});
    EXPECT_EQ(recorder_.Last(WM_XHTTP_ERR), c.err);
    EXPECT_EQ(recorder_.Last(WM_XHTTP_COMPLETE), 0);
    EXPECT_EQ(result_->chosenIndex, c.chosen);
    EXPECT_EQ(result_->errLine, c.errLine);
    EXPECT_TRUE(Stored().empty());
  }
}

TEST_F(XHttpMultiTest, StalledLoserDoesNotDelayCompletion) {
  // The stalled loser sees its stop only at its read time-out (5 s): the race ends as the winner alone does.
  Run({L"/gen/2000000?rate=2000000"});
  const DWORD alone = MsUntil(WM_XHTTP_COMPLETE);
  recorder_.messages.clear();
  result_ = tw::XHttpMultiResult::Create();
  Run({L"/gen/2000000?rate=2000000", L"/gen/2000000?stall_after=8192"});
  EXPECT_EQ(result_->chosenIndex, 0);
  EXPECT_LT(MsUntil(WM_XHTTP_COMPLETE), 2 * alone) << "alone: " << alone << " ms";
  EXPECT_TRUE(Stored() == GenBody(2000000));
}

TEST_F(XHttpMultiTest, FailedFinalWriteRemovesTheFile) {
  const std::wstring dir = twtest::GetEnv(L"TW_FULLDISK_DIR");
  if (dir.empty()) GTEST_SKIP() << "no 1 MiB tmpfs (TW_FULLDISK_DIR; the fixture needs root)";
  request_.filePath = dir + L"multi-full.bin";
  Run({L"/gen/2000000"});
  EXPECT_EQ(recorder_.Last(WM_XHTTP_ERR), tw::XHttpMultiErrFileWrite);
  EXPECT_EQ(result_->errLine, 509);
  EXPECT_EQ(GetFileAttributesW(request_.filePath.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The window ranks by what each mirror received in it, not by totals: a slow
// mirror's early burst must not win; nor must a window in which nobody moved.
TEST(XHttpMultiPickWindowTest, PicksTheMostReceivedWithinTheWindow) {
  const struct {
    const char* what;
    int32_t opened[5], later[5];
    DWORD laterMs;
    int pick;
  } cases[] = {
      {"burst ahead, the other faster", {1000000, 100000, -1, -1, -1}, {1250000, 900000, -1, -1, -1}, 500, 1},
      {"still open", {1000000, 100000, -1, -1, -1}, {1250000, 900000, -1, -1, -1}, 499, -1},
      {"2 MiB in the window closes it", {300000, 0, -1, -1, -1}, {400000, 2097152, -1, -1, -1}, 50, 1},
      {"one mirror left", {300000, 200000, -1, -1, -1}, {-1, 250000, -1, -1, -1}, 10, 1},
      {"nobody moved", {300000, 200000, -1, -1, -1}, {300000, 200000, -1, -1, -1}, 500, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tw::XHttpMultiPickWindow window;
    EXPECT_EQ(window.Observe(c.opened, 1000), -1);
    EXPECT_EQ(window.Observe(c.later, 1000 + c.laterMs), c.pick);
  }
}

}  // namespace
