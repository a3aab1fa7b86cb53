#include "net/xhttp.h"

#include <gtest/gtest.h>

#include <string>

#include "harness/test_env.h"
#include "net/transfer_messages.h"
#include "net/xhttp_multi.h"
#include "net_test_util.h"

namespace {

using nettest::GenBody;
using nettest::MessageRecorder;
using tw::WM_XHTTP_COMPLETE;
using tw::WM_XHTTP_ERR;
using tw::WM_XHTTP_ERR_SYS;
using tw::WM_XHTTP_PROGRESS;
using tw::WM_XHTTP_START;

constexpr DWORD kWaitMs = 30000;
constexpr LPARAM kWsaTimedOut = 10060;  // WSAETIMEDOUT

class XHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = nettest::HttpBase();
    if (base_.empty()) GTEST_SKIP() << "no test server (TW_HTTP_PORT unset)";
    folder_ = twtest::MakeScratchFolder(L"xhttp");
  }
  // Starts an asynchronous transfer to folder_/name and waits for COMPLETE.
  void Fetch(const std::wstring& url, const std::wstring& name,
             const tw::XHttpOptions* options = nullptr) {
    path_ = name.empty() ? std::wstring() : folder_ + name;
    ASSERT_TRUE(tw::XHttp_GetAsync(url, path_, recorder_.window(), nullptr, options, nullptr))
        << GetLastError();
    ASSERT_TRUE(recorder_.WaitComplete(kWaitMs)) << recorder_.Sequence();
  }
  LPARAM Value(UINT message) const {
    const auto list = recorder_.Of(message);
    return list.empty() ? LPARAM(-12345) : list.back().value;
  }

  std::wstring base_, folder_, path_;
  MessageRecorder recorder_;
};

// Runs first in this program: both kinds of transfer count from 1.
TEST_F(XHttpTest, IdCountersOfBothKindsStartAtOne) {
  LONG id = 0;
  ASSERT_TRUE(tw::XHttp_GetAsync(base_ + L"/gen/10", L"", recorder_.window(), nullptr, nullptr, &id));
  EXPECT_EQ(id, 1);
  ASSERT_TRUE(recorder_.WaitComplete(kWaitMs));
  for (const auto& m : recorder_.messages()) EXPECT_EQ(m.id, 1u);

  MessageRecorder multi;
  tw::XHttpMultiRequest request;  // no URL at all
  request.targetWindow = multi.window();
  request.filePath = folder_ + L"multi.bin";
  tw::XHttpMultiResult result;
  ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, nullptr, &result));
  ASSERT_TRUE(multi.WaitComplete(kWaitMs));
  ASSERT_FALSE(multi.messages().empty());
  for (const auto& m : multi.messages()) EXPECT_EQ(m.id, 1u);

  LONG second = 0;
  MessageRecorder again;
  ASSERT_TRUE(tw::XHttp_GetAsync(base_ + L"/gen/10", L"", again.window(), nullptr, nullptr, &second));
  EXPECT_EQ(second, 2);
  ASSERT_TRUE(again.WaitComplete(kWaitMs));
}

TEST_F(XHttpTest, SuccessReportsStartProgressPerChunkAndClosesFileBeforeComplete) {
  const size_t kSize = 50000;
  bool exclusiveAtComplete = false;
  recorder_.OnComplete([&] {
    tw::UniqueFile file(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    exclusiveAtComplete = file.IsValid();
  });
  Fetch(base_ + L"/gen/50000", L"ok.bin");
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_START), static_cast<LPARAM>(kSize));
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  const auto progress = recorder_.Of(WM_XHTTP_PROGRESS);
  // One per chunk of at most 4096 bytes, counting up to the whole body.
  EXPECT_GE(progress.size(), (kSize + 4095) / 4096);
  LPARAM last = 0;
  for (const auto& m : progress) {
    EXPECT_GT(m.value, last);
    EXPECT_LE(m.value - last, 4096);
    last = m.value;
  }
  EXPECT_EQ(last, static_cast<LPARAM>(kSize));
  EXPECT_TRUE(exclusiveAtComplete) << "the file was still open when COMPLETE arrived";
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &body));
  EXPECT_TRUE(body == GenBody(kSize));
}

TEST_F(XHttpTest, EmptyBodyGivesStartZeroNoProgressAndEmptyFile) {
  Fetch(base_ + L"/gen/0", L"empty.bin");
  EXPECT_EQ(recorder_.Sequence(), "START,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_START), 0);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  std::string body = "x";
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &body));
  EXPECT_TRUE(body.empty());
}

TEST_F(XHttpTest, ResponseWithoutLengthStartsWithMinusOne) {
  Fetch(base_ + L"/gen/9000?nolength=1", L"nolength.bin");
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_START), LPARAM(-1));
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &body));
  EXPECT_TRUE(body == GenBody(9000));
}

TEST_F(XHttpTest, MoreBytesThanAnnouncedAreNotChecked) {
  // WinINet stops reading at the announced length; whatever it hands over is
  // stored and the transfer succeeds.
  Fetch(base_ + L"/gen/3000?length=2000", L"short.bin");
  EXPECT_EQ(Value(WM_XHTTP_START), 2000);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
}

TEST_F(XHttpTest, FailuresBeforeTheResponseAreErrErrSysComplete) {
  struct Case {
    const char* what;
    std::wstring url;
    uint32_t noAutoRedirect;
    int httperr;
  };
  const Case cases[] = {
      {"404", base_ + L"/gen/10?status=404", 0, tw::XHttpErrStatus4xx},
      {"missing file", base_ + L"/missing-file", 0, tw::XHttpErrStatus4xx},
      {"503", base_ + L"/gen/10?status=503", 0, tw::XHttpErrStatus5xx},
      {"redirect not followed", base_ + L"/gen/10?redirect=/gen/20", 1, tw::XHttpErrStatus3xx},
      {"bad scheme", L"nonsense", 0, tw::XHttpErrCrackUrl},
      // Port 1 on loopback: nobody listens, the connection is refused.
      {"refused", L"http://127.0.0.1:1/gen/10", 0, tw::XHttpErrSendRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder recorder;
    tw::XHttpOptions options;
    options.noAutoRedirect = c.noAutoRedirect;
    options.connectRetries = 1;
    ASSERT_TRUE(tw::XHttp_GetAsync(c.url, L"", recorder.window(), nullptr, &options, nullptr));
    ASSERT_TRUE(recorder.WaitComplete(kWaitMs));
    EXPECT_EQ(recorder.Sequence(), "ERR,ERR_SYS,COMPLETE");
    ASSERT_EQ(recorder.Count(WM_XHTTP_ERR), 1u);
    EXPECT_EQ(recorder.Of(WM_XHTTP_ERR)[0].value, c.httperr);
    EXPECT_EQ(recorder.Of(WM_XHTTP_COMPLETE)[0].value, 0);
    if (c.httperr == tw::XHttpErrSendRequest) {
      EXPECT_EQ(recorder.Of(WM_XHTTP_ERR_SYS)[0].value, ERROR_INTERNET_CANNOT_CONNECT);
    }
  }
}

TEST_F(XHttpTest, FollowedRedirectCountsOnlyTheFinalAnswer) {
  Fetch(base_ + L"/gen/10?redirect=/gen/3000", L"redirected.bin");
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_START), 3000);
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &body));
  EXPECT_TRUE(body == GenBody(3000));
}

TEST_F(XHttpTest, ConnectionDroppedInTheBodyFails) {
  Fetch(base_ + L"/gen/200000?drop_after=20000", L"dropped.bin");
  const std::string sequence = recorder_.Sequence();
  EXPECT_EQ(sequence.rfind("START", 0), 0u) << sequence;
  EXPECT_NE(sequence.find("ERR,ERR_SYS,COMPLETE"), std::string::npos) << sequence;
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  const LPARAM err = Value(WM_XHTTP_ERR);
  EXPECT_TRUE(err == tw::XHttpErrReadFile || err == tw::XHttpErrQueryDataAvailable) << err;
  // The partial file stays, closed.
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(path_, &body));
  EXPECT_LE(body.size(), 20000u);
}

TEST_F(XHttpTest, StalledBodyEndsAfterTheReceiveTimeOut) {
  // The time-out must hold on the handles themselves: Wine ignores it on the
  // session alone and would wait for ever.
  tw::XHttpOptions options;
  options.receiveTimeout = 1000;
  const DWORD start = GetTickCount();
  Fetch(base_ + L"/gen/100000?stall_after=5000", L"stalled.bin", &options);
  const DWORD took = GetTickCount() - start;
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  const LPARAM err = Value(WM_XHTTP_ERR);
  EXPECT_TRUE(err == tw::XHttpErrReadFile || err == tw::XHttpErrQueryDataAvailable) << err;
  // Windows says 12002; Wine passes the socket's WSAETIMEDOUT on.
  const LPARAM sys = Value(WM_XHTTP_ERR_SYS);
  EXPECT_TRUE(sys == ERROR_INTERNET_TIMEOUT || sys == kWsaTimedOut) << sys;
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, 8000u);
}

TEST_F(XHttpTest, ServerThatNeverAnswersTimesOut) {
  tw::XHttpOptions options;
  options.receiveTimeout = 1000;
  options.connectRetries = 1;
  Fetch(base_ + L"/gen/10?delay_ms=20000", L"", &options);
  EXPECT_EQ(recorder_.Sequence(), "ERR,ERR_SYS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_ERR), tw::XHttpErrSendRequest);
  // Windows says 12002; Wine says 12030 (connection aborted).
  const LPARAM sys = Value(WM_XHTTP_ERR_SYS);
  EXPECT_TRUE(sys == ERROR_INTERNET_TIMEOUT || sys == ERROR_INTERNET_CONNECTION_ABORTED) << sys;
}

TEST_F(XHttpTest, CertificateProblemsAreSecurityErrors) {
  struct Case {
    const wchar_t* portVariable;
    DWORD syserr;
  };
  const Case cases[] = {
      {L"TW_HTTPS_EXPIRED_PORT", ERROR_INTERNET_SEC_CERT_DATE_INVALID},  // 12037
      {L"TW_HTTPS_WRONGHOST_PORT", ERROR_INTERNET_SEC_CERT_CN_INVALID},  // 12038
  };
  for (const Case& c : cases) {
    const std::wstring base = nettest::HttpsBase(c.portVariable);
    if (base.empty()) GTEST_SKIP() << "no HTTPS test server";
    SCOPED_TRACE(c.syserr);
    MessageRecorder recorder;
    ASSERT_TRUE(tw::XHttp_GetAsync(base + L"/gen/10", L"", recorder.window(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(recorder.WaitComplete(kWaitMs));
    EXPECT_EQ(recorder.Sequence(), "ERR,ERR_SYS,COMPLETE");
    EXPECT_EQ(recorder.Of(WM_XHTTP_ERR).at(0).value, tw::XHttpErrSecurity);
    EXPECT_EQ(recorder.Of(WM_XHTTP_ERR_SYS).at(0).value, static_cast<LPARAM>(c.syserr));

    // ignoreCertErrors lets the same request through.
    tw::XHttpOptions options;
    options.ignoreCertErrors = 1;
    tw::XMemoryWriteStream body;
    int httperr = -1;
    EXPECT_TRUE(tw::XHttp_Get(base + L"/gen/10", &body, nullptr, &httperr, &options)) << httperr;
  }
}

TEST_F(XHttpTest, TrustedHttpsWorks) {
  const std::wstring base = nettest::HttpsBase(L"TW_HTTPS_PORT");
  if (base.empty()) GTEST_SKIP() << "no HTTPS test server";
  tw::XMemoryWriteStream body;
  int httperr = -1;
  ASSERT_TRUE(tw::XHttp_Get(base + L"/gen/70000", &body, nullptr, &httperr, nullptr)) << httperr;
  EXPECT_EQ(httperr, 0);
  EXPECT_TRUE(std::string(reinterpret_cast<const char*>(body.Data()), 70000) == GenBody(70000));
}

TEST_F(XHttpTest, LockedTargetFileFailsAtOnceWithSharingViolation) {
  const std::wstring path = folder_ + L"locked.bin";
  tw::UniqueFile holder(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.IsValid());
  SetLastError(0);
  EXPECT_FALSE(tw::XHttp_GetAsync(base_ + L"/gen/10", path, recorder_.window(), nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  recorder_.Pump(200);
  EXPECT_TRUE(recorder_.messages().empty());
}

TEST_F(XHttpTest, ReadOnlyTargetFileIsReplaced) {
  const std::wstring path = folder_ + L"readonly.bin";
  ASSERT_TRUE(twtest::WriteWholeFile(path, "stale stale stale"));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  Fetch(base_ + L"/gen/5", L"readonly.bin");
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 1);
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(path, &body));
  EXPECT_TRUE(body == GenBody(5));
}

TEST_F(XHttpTest, FullDiskEndsWithStreamWriteErrorAndLeavesPartialFile) {
  const std::wstring dir = twtest::GetEnv(L"TW_FULLDISK_DIR");
  if (dir.empty()) GTEST_SKIP() << "no 1 MiB tmpfs (TW_FULLDISK_DIR; the fixture needs root)";
  const std::wstring path = dir + L"xhttp-full.bin";
  ASSERT_TRUE(tw::XHttp_GetAsync(base_ + L"/gen/3000000", path, recorder_.window(), nullptr,
                                 nullptr, nullptr));
  ASSERT_TRUE(recorder_.WaitComplete(kWaitMs));
  EXPECT_EQ(recorder_.Sequence(), "START,PROGRESS,ERR,ERR_SYS,COMPLETE");
  EXPECT_EQ(Value(WM_XHTTP_ERR), tw::XHttpErrStreamWrite);
  EXPECT_EQ(Value(WM_XHTTP_COMPLETE), 0);
  // Partial and closed: it can be deleted at once.
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

TEST_F(XHttpTest, WithoutWindowNothingIsPostedAnywhere) {
  ASSERT_TRUE(tw::XHttp_GetAsync(base_ + L"/gen/1000", folder_ + L"quiet.bin", nullptr, nullptr,
                                 nullptr, nullptr));
  Sleep(500);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
      << "a message reached the test thread's queue: " << msg.message;
  std::string body;
  ASSERT_TRUE(twtest::ReadWholeFile(folder_ + L"quiet.bin", &body));
  EXPECT_EQ(body.size(), 1000u);
}

// ------------------------------------------------------------- synchronous

TEST_F(XHttpTest, SynchronousGetIntoMemory) {
  tw::XMemoryWriteStream body;
  int httperr = -1;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/gen/100000", &body, nullptr, &httperr, nullptr));
  EXPECT_EQ(httperr, 0);
  ASSERT_EQ(body.GetSize(), 100000);
  EXPECT_TRUE(std::string(reinterpret_cast<const char*>(body.Data()), 100000) == GenBody(100000));

  tw::XMemoryWriteStream notFound;
  EXPECT_FALSE(tw::XHttp_Get(base_ + L"/nothing-here", &notFound, nullptr, &httperr, nullptr));
  EXPECT_EQ(httperr, tw::XHttpErrStatus4xx);
}

TEST_F(XHttpTest, AgentAndExtraHeadersReachTheServer) {
  tw::XHttpOptions options;
  options.agent = L"OptionsAgent";
  tw::XMemoryWriteStream body;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/echo", &body, L"GivenAgent/1.0", nullptr, &options));
  const std::string text(reinterpret_cast<const char*>(body.Data()), static_cast<size_t>(body.GetSize()));
  EXPECT_NE(text.find("User-Agent: GivenAgent/1.0\n"), std::string::npos) << text;

  tw::XMemoryWriteStream second;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/echo", &second, nullptr, nullptr, &options));
  const std::string text2(reinterpret_cast<const char*>(second.Data()), static_cast<size_t>(second.GetSize()));
  EXPECT_NE(text2.find("User-Agent: OptionsAgent\n"), std::string::npos) << text2;
}

TEST_F(XHttpTest, SizeLimitEndsOnlyBodiesLargerThanIt) {
  struct Case {
    int32_t sizeLimit;
    const wchar_t* path;
    bool ok;
  };
  const Case cases[] = {
      {10000, L"/gen/10000", true},   // exactly the limit
      {10000, L"/gen/10001", false},  // one byte more
      {0, L"/gen/20000", true},       // 0: no bound
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    tw::XHttpOptions options;
    options.sizeLimit = c.sizeLimit;
    tw::XMemoryWriteStream body;
    int httperr = -1;
    EXPECT_EQ(tw::XHttp_Get(base_ + c.path, &body, nullptr, &httperr, &options), c.ok);
    EXPECT_EQ(httperr, c.ok ? 0 : tw::XHttpErrSizeLimit);
  }
}

TEST_F(XHttpTest, DefaultSizeLimitNeverEndsA30MiBBody) {
  tw::XMemoryWriteStream body;
  int httperr = -1;
  EXPECT_TRUE(tw::XHttp_Get(base_ + L"/gen/31457280", &body, nullptr, &httperr, nullptr)) << httperr;
  EXPECT_EQ(body.GetSize(), 31457280);
}

// -------------------------------------------------------------- URL escaping

TEST(XHttpEscapeTest, OnlyControlAndNonAsciiBytesAreEscaped) {
  struct Case {
    std::wstring url;
    std::string escaped;
  };
  const Case cases[] = {
      {L"http://h/caf\u00e9", "http://h/caf%C3%A9"},
      {L"http://h/a b", "http://h/a b"},              // space kept
      {L"http://h/a%20b?x=%41#f", "http://h/a%20b?x=%41#f"},  // nothing unescaped
      {L"http://h/\t\x7f", "http://h/%09\x7f"},       // 0x7F kept, tab escaped
      {L"http://h/\u4e2d", "http://h/%E4%B8%AD"},
      {L"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(tw::XHttpContext::EscapeUrl(c.url), c.escaped);
}

TEST_F(XHttpTest, ServerReceivesTheEscapedUrl) {
  tw::XMemoryWriteStream body;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/echo/caf\u00e9%20x?q=\u00e9&r=a%2Fb", &body, nullptr,
                            nullptr, nullptr));
  const std::string text(reinterpret_cast<const char*>(body.Data()), static_cast<size_t>(body.GetSize()));
  EXPECT_EQ(text.substr(0, text.find('\n')), "/echo/caf%C3%A9%20x?q=%C3%A9&r=a%2Fb");
}

TEST_F(XHttpTest, SpaceInThePathReachesTheServerEscapedByWinInet) {
  tw::XMemoryWriteStream body;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/echo/a b", &body, nullptr, nullptr, nullptr));
  const std::string text(reinterpret_cast<const char*>(body.Data()), static_cast<size_t>(body.GetSize()));
  EXPECT_EQ(text.substr(0, text.find('\n')), "/echo/a%20b");
}

TEST_F(XHttpTest, OverlongUrlsFailCleanly) {
  struct Case {
    size_t pathLength, queryLength;
    bool ok;
  };
  const Case cases[] = {
      {1900, 0, true},     // fits
      {1500, 1000, false},  // each fits, joined they do not
      {3000, 0, false},     // the path alone is too long
      {10, 3000, false},    // the query alone is too long
      {20000, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pathLength << "+" << c.queryLength);
    std::wstring url = base_ + L"/echo/" + std::wstring(c.pathLength, L'p');
    if (c.queryLength) url += L"?" + std::wstring(c.queryLength, L'q');
    tw::XMemoryWriteStream body;
    int httperr = -1;
    EXPECT_EQ(tw::XHttp_Get(url, &body, nullptr, &httperr, nullptr), c.ok);
    EXPECT_EQ(httperr, c.ok ? 0 : tw::XHttpErrCrackUrl);
  }
}

}  // namespace
