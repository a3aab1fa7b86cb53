// XHttp against the fixture's fault-injecting servers, the URL escaping, and
// the file stream's buffering.
#include "net/xhttp.h"

#include <gtest/gtest.h>

#include <string>

#include "harness/test_util.h"
#include "net/transfer_messages.h"
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
constexpr LPARAM kNone = -12345;

class XHttpTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = nettest::ServerBase();
    ASSERT_FALSE(base_.empty()) << "no test server (TW_HTTP_PORT unset)";
    folder_ = twtest::MakeScratchFolder(L"xhttp");
  }
  // An asynchronous transfer into folder_/name (empty: nothing stored), until COMPLETE.
  void Fetch(MessageRecorder& recorder, const std::wstring& url, const std::wstring& name,
             const tw::XHttpOptions* options = nullptr) {
    path_ = name.empty() ? name : folder_ + name;
    ASSERT_TRUE(tw::XHttp_GetAsync(url, path_, recorder.window(), nullptr, options, nullptr)) << GetLastError();
    ASSERT_TRUE(recorder.WaitComplete(kWaitMs)) << recorder.Sequence();
  }
  std::string Stored() const {
    std::string body;
    EXPECT_TRUE(twtest::ReadWholeFile(path_, &body));
    return body;
  }

  std::wstring base_, folder_, path_;
};

TEST_F(XHttpTest, SuccessReportsProgressPerChunkAndClosesTheFileBeforeComplete) {
  MessageRecorder recorder;
  bool closedAtComplete = false;
  recorder.onComplete = [&] {
    closedAtComplete = tw::UniqueFile(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr))
                           .IsValid();
  };
  Fetch(recorder, base_ + L"/gen/50000", L"ok.bin");
  EXPECT_EQ(recorder.Sequence(), "START,PROGRESS,COMPLETE");
  EXPECT_EQ(recorder.Last(WM_XHTTP_START), 50000);
  LPARAM last = 0;
  for (const nettest::Message& m : recorder.Of(WM_XHTTP_PROGRESS)) {
    EXPECT_GT(m.value, last);
    EXPECT_LE(m.value - last, 4096);
    last = m.value;
  }
  EXPECT_EQ(last, 50000);
  EXPECT_TRUE(closedAtComplete);
  EXPECT_TRUE(Stored() == GenBody(50000));
}

TEST_F(XHttpTest, AnswersAndFailuresAsMessages) {
  constexpr LPARAM kAny = -1;  // the system error where Wine and Windows differ
  const std::wstring https = nettest::ServerBase(L"TW_HTTPS_PORT");
  const struct {
    std::wstring url;
    int32_t sizeLimit;
    LPARAM start, err, sys;  // err kNone: the transfer succeeds, with the body of the last "/gen/N" stored
    bool fileStays;
    bool noAutoRedirect = false;
  } cases[] = {
      {base_ + L"/gen/0", 0, 0, kNone, kNone, true},
      {base_ + L"/gen/9000?nolength=1", 0, -1, kNone, kNone, true},
      {base_ + L"/gen/10?redirect=/gen/3000", 0, 3000, kNone, kNone, true},
      {base_ + L"/gen/10?redirect=/gen/20", 0, kNone, tw::XHttpErrStatus3xx, kAny, true, true},
      {base_ + L"/gen/10?status=404", 0, kNone, tw::XHttpErrStatus4xx, kAny, true},
      {base_ + L"/gen/10?status=503", 0, kNone, tw::XHttpErrStatus5xx, kAny, true},
      {L"nonsense", 0, kNone, tw::XHttpErrCrackUrl, kAny, true},
      {L"http://127.0.0.1:1/gen/10", 0, kNone, tw::XHttpErrSendRequest, kAny, true},  // nobody listens
      // WinINet ends a body cut short like a whole one; the length tells.
      {base_ + L"/gen/200000?drop_after=20000", 0, 200000, tw::XHttpErrReadFile, kAny, true},
      {base_ + L"/gen/10001", 10000, 10001, tw::XHttpErrSizeLimit, ERROR_FILE_TOO_LARGE, false},
      {base_ + L"/gen/60000?nolength=1", 10000, -1, tw::XHttpErrSizeLimit, ERROR_FILE_TOO_LARGE, false},
      // A byte every 10 ms: no read ever times out, too little arrives per window.
      {base_ + L"/gen/3000?rate=100&chunk=1", 0, 3000, tw::XHttpErrReadFile, ERROR_INTERNET_TIMEOUT, true},
      // Enough for every window, too slow for the whole body's deadline.
      {base_ + L"/gen/200000?rate=10000&chunk=500", 0, 200000, tw::XHttpErrReadFile, ERROR_INTERNET_TIMEOUT, true},
      {base_ + L"/gen/1000?length=2147483648", 0, -1, tw::XHttpErrReadFile, ERROR_INTERNET_CONNECTION_RESET, true},
      {base_ + L"/gen/1000?length=99999999999", 0, -1, tw::XHttpErrReadFile, ERROR_INTERNET_CONNECTION_RESET, true},
      {base_ + L"/gen/10?headers=3000000", 0, 10, kNone, kNone, true},
      // Wine ignores a receive time-out set on the session alone and would wait for ever.
      {base_ + L"/gen/100000?stall_after=5000", 0, 100000, tw::XHttpErrReadFile, kAny, true},
      {base_ + L"/gen/400000?rate=400000&reset_after=100000", 0, 400000, tw::XHttpErrReadFile, kAny, true},
      {base_ + L"/gen/10?delay_ms=60000", 0, kNone, tw::XHttpErrSendRequest, kAny, true},  // never answers
      // A TLS handshake never answered: bounded by the time-outs although WinINet itself may wait for ever.
      {nettest::ServerBase(L"TW_HTTPS_STALL_PORT") + L"/gen/10", 0, kNone, tw::XHttpErrSendRequest,
       ERROR_INTERNET_TIMEOUT, true},
      // Certificate problems are security errors unless ignored (below).
      {nettest::ServerBase(L"TW_HTTPS_EXPIRED_PORT") + L"/gen/10", 0, kNone, tw::XHttpErrSecurity,
       ERROR_INTERNET_SEC_CERT_DATE_INVALID, true},
      {nettest::ServerBase(L"TW_HTTPS_WRONGHOST_PORT") + L"/gen/10", 0, kNone, tw::XHttpErrSecurity,
       ERROR_INTERNET_SEC_CERT_CN_INVALID, true},
      // WinINet follows a change of scheme; other schemes end as an unfollowed redirect.
      {base_ + L"/gen/10?redirect=" + https + L"/gen/20", 0, 20, kNone, kNone, true},
      {https + L"/gen/10?redirect=" + base_ + L"/gen/20", 0, 20, kNone, kNone, true},
      {base_ + L"/gen/10?redirect=ftp://127.0.0.1:1/x", 0, kNone, tw::XHttpErrStatus3xx, kAny, true},
      {base_ + L"/gen/10?redirect=file:///C:/windows/win.ini", 0, kNone, tw::XHttpErrStatus3xx, kAny, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
    MessageRecorder recorder;
    tw::XHttpOptions options;
    options.sizeLimit = c.sizeLimit;
    options.noAutoRedirect = c.noAutoRedirect;
    options.stallWindowMs = 1500;
    options.bodyDeadlineMs = 4000;
    options.receiveTimeout = 2000;
    options.connectRetries = 1;
    Fetch(recorder, c.url, L"hostile.bin", &options);
    EXPECT_EQ(recorder.Last(WM_XHTTP_START), c.start) << recorder.Sequence();
    // Data-available or read: either may notice a reset first.
    const LPARAM err = recorder.Last(WM_XHTTP_ERR);
    EXPECT_TRUE(err == c.err || (c.sys == kAny && c.err == tw::XHttpErrReadFile && err == tw::XHttpErrQueryDataAvailable))
        << err;
    if (c.sys != kAny) {
      EXPECT_EQ(recorder.Last(WM_XHTTP_ERR_SYS), c.sys);
    }
    EXPECT_EQ(recorder.Last(WM_XHTTP_COMPLETE), c.err == kNone ? 1 : 0);
    EXPECT_TRUE(c.err == kNone ? Stored() == GenBody(std::stoul(c.url.substr(c.url.rfind(L"/gen/") + 5)))
                               : recorder.Sequence().find("ERR,ERR_SYS,COMPLETE") != std::string::npos);
    EXPECT_EQ(GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES, c.fileStays);
  }
}

TEST_F(XHttpTest, FullDiskEndsWithAStreamWriteError) {
  const std::wstring dir = twtest::GetEnv(L"TW_FULLDISK_DIR");
  if (dir.empty()) GTEST_SKIP() << "no 1 MiB tmpfs (TW_FULLDISK_DIR; the fixture needs root)";
  MessageRecorder recorder;
  folder_ = dir;
  Fetch(recorder, base_ + L"/gen/3000000", L"xhttp-full.bin");
  EXPECT_EQ(recorder.Sequence(), "START,PROGRESS,ERR,ERR_SYS,COMPLETE");
  EXPECT_EQ(recorder.Last(WM_XHTTP_ERR), tw::XHttpErrStreamWrite);
  EXPECT_TRUE(DeleteFileW(path_.c_str())) << "the partial file must be closed: " << GetLastError();
}

TEST_F(XHttpTest, SynchronousGetEndsOnlyBodiesLargerThanTheSizeLimitAndIgnoresCertificatesWhenAsked) {
  const struct {
    int32_t sizeLimit;
    std::wstring url;
    int httperr;
    uint32_t ignoreCertErrors = 0;
  } cases[] = {{10000, base_ + L"/gen/10000", 0}, {10000, base_ + L"/gen/10001", tw::XHttpErrSizeLimit},
               {0, base_ + L"/gen/20000", 0}, {0, base_ + L"/nothing-here", tw::XHttpErrStatus4xx},
               {0, nettest::ServerBase(L"TW_HTTPS_EXPIRED_PORT") + L"/gen/10", 0, 1},
               {0, nettest::ServerBase(L"TW_HTTPS_WRONGHOST_PORT") + L"/gen/10", 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
    tw::XHttpOptions options;
    options.sizeLimit = c.sizeLimit;
    options.ignoreCertErrors = c.ignoreCertErrors;
    tw::XMemoryWriteStream body;
    int httperr = -1;
    EXPECT_EQ(tw::XHttp_Get(c.url, &body, nullptr, &httperr, &options), c.httperr == 0);
    EXPECT_EQ(httperr, c.httperr);
  }
}

TEST_F(XHttpTest, UrlsAreSentEscapedAndOverlongOnesRefused) {
  EXPECT_EQ(tw::XHttpContext::EscapeUrl(L"http://h/caf\u00e9 %41?\t\x7f\u4e2d"), "http://h/caf%C3%A9 %41?%09\x7f%E4%B8%AD");
  tw::XMemoryWriteStream echo;
  ASSERT_TRUE(tw::XHttp_Get(base_ + L"/echo/caf\u00e9 x?q=\u00e9&r=a%2Fb", &echo, nullptr, nullptr, nullptr));
  const std::string text(reinterpret_cast<const char*>(echo.Data()), static_cast<size_t>(echo.GetSize()));
  EXPECT_EQ(text.substr(0, text.find('\n')), "/echo/caf%C3%A9%20x?q=%C3%A9&r=a%2Fb");  // WinINet escapes the space
  // Path and query share one 2,048-byte buffer.
  const struct {
    size_t path, query;
    int httperr;
  } cases[] = {{1900, 0, 0}, {1500, 1000, tw::XHttpErrCrackUrl}, {10, 3000, tw::XHttpErrCrackUrl},
               {20000, 0, tw::XHttpErrCrackUrl}};
  for (const auto& c : cases) {
    std::wstring url = base_ + L"/echo/" + std::wstring(c.path, L'p');
    if (c.query != 0) url += L"?" + std::wstring(c.query, L'q');
    tw::XMemoryWriteStream body;
    int httperr = -1;
    EXPECT_EQ(tw::XHttp_Get(url, &body, nullptr, &httperr, nullptr), c.httperr == 0) << c.path << "+" << c.query;
    EXPECT_EQ(httperr, c.httperr) << c.path << "+" << c.query;
  }
}

TEST_F(XHttpTest, FileStreamBuffersUpTo8192BytesAndWritesLargerBlocksWhole) {
  const struct {
    size_t first, second;
    int64_t onDisk;  // before Close
  } cases[] = {{8192, 0, 0}, {8193, 0, 8193}, {100, 8092, 0}, {100, 8093, 8193}, {5000, 5000, 10000}};
  for (const auto& c : cases) {
    const std::wstring path = folder_ + L"stream.bin";
    tw::XFileWriteStream stream;
    ASSERT_TRUE(stream.Open(path));
    const std::string a(c.first, 'a'), b(c.second, 'b');
    ASSERT_TRUE(stream.Write(a.data(), static_cast<uint32_t>(a.size())));
    ASSERT_TRUE(stream.Write(b.data(), static_cast<uint32_t>(b.size())));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    EXPECT_EQ(static_cast<int64_t>(data.nFileSizeLow), c.onDisk) << c.first << "+" << c.second;
    stream.Close();
    std::string content;
    ASSERT_TRUE(twtest::ReadWholeFile(path, &content));
    EXPECT_TRUE(content == a + b) << c.first << "+" << c.second;
  }
}

}  // namespace
