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

// Large enough that the fast mirror (unthrottled, about 45 MB/s here) still runs long after the pick is
// due (once it gained 2 MiB in the window): a race without a pick cannot pass for one that ended first.
constexpr size_t kRaceBytes = 24000000;
constexpr size_t kSmallBytes = 100000;  // below pickBytes: no pick at all

// Each slot's file differs from the other's in every byte: the target file tells whose was kept.
std::string MirrorBody(size_t size, int slot) {
  std::string body = GenBody(size);
  for (char& c : body) c = static_cast<char>(c ^ (0x5A * (slot + 1)));
  return body;
}

struct Mirror {
  bool nginx;  // else the test server
  const wchar_t* query;  // appended to the file's path
};
constexpr bool kNginx = true, kTestServer = false;

class RaceNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring port = twtest::GetEnv(L"TW_NGINX_PORT");
    // nginx serves the fixture's test-server docroot.
    const std::wstring docroot = twtest::GetEnv(L"TW_TEST_STATE") + L"/www";
    if (port.empty() || nettest::ServerBase().empty())
      GTEST_SKIP() << "no nginx mirror (TW_NGINX_PORT unset)";
    nginx_ = L"http://127.0.0.1:" + port;
    for (size_t size : {kRaceBytes, kSmallBytes}) {  // both servers serve this docroot
      for (int slot = 0; slot < 2; ++slot)
        ASSERT_TRUE(twtest::WriteWholeFile(L"Z:" + docroot + Name(size, slot), MirrorBody(size, slot)));
    }
  }
  static std::wstring Name(size_t size, int slot) {
    return L"/race-" + std::to_wstring(size) + L"-" + std::to_wstring(slot) + L".bin";
  }
  std::wstring Url(const Mirror& m, size_t size, int slot) const {
    return (m.nginx ? nginx_ : nettest::ServerBase()) + Name(size, slot) + m.query;
  }
  std::wstring nginx_;
};

TEST_F(RaceNginxTest, PicksTheFastestMirror) {
  const struct {
    const char* what;
    Mirror mirrors[2];
    size_t size;
    int chosen;  // the slot picked, -1: none
    int kept;    // the slot whose bytes the file holds
  } cases[] = {
      {"throttled and bursting in slot 1, fast in slot 2", {{kNginx, L"?rate=1m"}, {kNginx, L""}}, kRaceBytes, 1, 1},
      {"fast in slot 1, throttled and bursting in slot 2", {{kNginx, L""}, {kNginx, L"?rate=1m"}}, kRaceBytes, 0, 0},
      {"near and slow in slot 1, far (first byte after 150 ms) and fast in slot 2",
       {{kNginx, L"?rate=400k"}, {kTestServer, L"?delay_ms=150"}}, kRaceBytes, 1, 1},
      {"a file below pickBytes: the first to end wins unchosen",
       {{kNginx, L"?rate=20k"}, {kNginx, L""}}, kSmallBytes, -1, 1},
  };
  const std::wstring path = twtest::MakeScratchFolder(L"race") + L"setup.bin";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder recorder;
    tw::XHttpMultiRequest request;
    for (int i = 0; i < 2; ++i) request.urls[i] = Url(c.mirrors[i], c.size, i);
    request.filePath = path;
    request.targetWindow = recorder.window();
    tw::XHttpOptions options;
    options.receiveTimeout = 5000;
    const auto result = tw::XHttpMultiResult::Create();
    ASSERT_TRUE(tw::XHttpMulti_GetAsync(request, &options, result)) << GetLastError();
    ASSERT_TRUE(recorder.WaitComplete(60000)) << recorder.Sequence();
    EXPECT_EQ(recorder.Of(tw::WM_XHTTP_COMPLETE).at(0).value, 1);
    EXPECT_EQ(recorder.Of(tw::WM_XHTTP_MULTI_CHOSEN).size(), c.chosen < 0 ? 0u : 1u) << recorder.Sequence();
    EXPECT_EQ(recorder.Last(tw::WM_XHTTP_MULTI_CHOSEN), c.chosen < 0 ? -12345 : c.chosen);
    EXPECT_EQ(result->chosenIndex, c.chosen);
    EXPECT_EQ(result->chosenUrl, c.chosen < 0 ? std::wstring() : request.urls[c.chosen]);
    std::string body;
    ASSERT_TRUE(twtest::ReadWholeFile(path, &body));
    EXPECT_TRUE(body == MirrorBody(c.size, c.kept)) << "not the bytes of slot " << c.kept;
  }
}

}  // namespace
