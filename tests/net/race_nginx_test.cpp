// Mirror races against a real web server: nginx (TW_NGINX_PORT) throttled by
// its limit_rate, which sends a second's allowance at once before it paces,
// beside the fault-injecting test server for a mirror that answers late.
#include <gtest/gtest.h>

#include <string>

#include "harness/test_util.h"
#include "net/transfer_messages.h"
#include "net/xhttp_multi.h"
#include "net_test_util.h"

namespace {

using nettest::GenBody;
using nettest::MessageRecorder;

// Large enough that the fast mirror is still running when the pick is made.
constexpr size_t kRaceBytes = 6000000;
constexpr size_t kSmallBytes = 100000;  // below pickBytes: no pick at all

enum Server { kNginx, kTestServer };
struct Mirror {
  Server server;
  const wchar_t* query;  // appended to the file's path
};

class RaceNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring port = twtest::GetEnv(L"TW_NGINX_PORT");
    // nginx serves the fixture's test-server docroot.
    const std::wstring docroot = twtest::GetEnv(L"TW_TEST_STATE") + L"/www";
    if (port.empty() || nettest::ServerBase().empty())
      GTEST_SKIP() << "no nginx mirror (TW_NGINX_PORT unset)";
    nginx_ = L"http://127.0.0.1:" + port;
    // Both servers serve this docroot, so every mirror offers the same bytes.
    for (size_t size : {kRaceBytes, kSmallBytes}) {
      ASSERT_TRUE(twtest::WriteWholeFile(L"Z:" + docroot + L"/race-" + std::to_wstring(size) + L".bin",
                                         GenBody(size)));
    }
  }
  std::wstring Url(const Mirror& m, size_t size) const {
    return (m.server == kNginx ? nginx_ : nettest::ServerBase()) + L"/race-" + std::to_wstring(size) +
           L".bin" + m.query;
  }
  std::wstring nginx_;
};

TEST_F(RaceNginxTest, PicksTheFastestMirror) {
  struct Case {
    const char* what;
    Mirror mirrors[2];
    size_t size;
    int chosen;  // the fastest; -1: no pick, the first mirror to finish wins unchosen
  };
  const Case cases[] = {
      {"throttled and bursting in slot 1, fast in slot 2",
       {{kNginx, L"?rate=1m"}, {kNginx, L""}}, kRaceBytes, 1},
      {"fast in slot 1, throttled and bursting in slot 2",
       {{kNginx, L"?r=1"}, {kNginx, L"?rate=1m"}}, kRaceBytes, 0},
      {"near and slow in slot 1, far (first byte after 150 ms) and fast in slot 2",
       {{kNginx, L"?rate=400k"}, {kTestServer, L"?delay_ms=150"}}, kRaceBytes, 1},
      {"a file below pickBytes", {{kNginx, L"?rate=300k"}, {kNginx, L"?r=2"}}, kSmallBytes, -1},
  };
  const std::wstring path = twtest::MakeScratchFolder(L"race") + L"setup.bin";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder recorder;
    tw::XHttpMultiRequest request;
    for (int i = 0; i < 2; ++i) request.urls[i] = Url(c.mirrors[i], c.size);
    request.filePath = path;
    request.targetWindow = recorder.window();
    tw::XHttpOptions options;
    options.receiveTimeout = 5000;
    const auto result = tw::XHttpMultiResult::Create();
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, &options, result)) << GetLastError();
    ASSERT_TRUE(recorder.WaitComplete(60000)) << recorder.Sequence();
    EXPECT_EQ(recorder.Of(tw::WM_XHTTP_COMPLETE).at(0).value, 1);
    // A fast mirror may also end before the pick (when the controller thread
    // was held up): it then wins unchosen, which only the fast one can do.
    const bool endedFirst = c.chosen >= 0 && result->chosenIndex < 0;
    EXPECT_EQ(result->chosenIndex, endedFirst ? -1 : c.chosen);
    const auto chosen = recorder.Of(tw::WM_XHTTP_MULTI_CHOSEN);
    ASSERT_EQ(chosen.size(), c.chosen < 0 || endedFirst ? 0u : 1u);
    if (c.chosen >= 0 && !endedFirst) {
      EXPECT_EQ(chosen[0].value, c.chosen);
      EXPECT_EQ(result->chosenUrl, request.urls[c.chosen]);
    }
    std::string body;
    ASSERT_TRUE(twtest::ReadWholeFile(path, &body));
    EXPECT_TRUE(body == GenBody(c.size));
  }
}

}  // namespace
