#include "diag/error_report.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/test_env.h"
#include "net/write_stream.h"
#include "net/xhttp.h"

namespace {

std::wstring Utf8ToWide(const std::string& bytes) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
  return text;
}

// Decodes one percent-encoded value the way a server does.
std::wstring DecodeQueryValue(const std::wstring& value) {
  std::string bytes;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L'%' && i + 2 < value.size()) {
      bytes.push_back(static_cast<char>(std::stoi(std::wstring(value, i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      bytes.push_back(static_cast<char>(value[i]));
    }
  }
  return Utf8ToWide(bytes);
}

// The value of key in the query of url ("" when absent).
std::wstring QueryValue(const std::wstring& url, const std::wstring& key) {
  const size_t query = url.find(L'?');
  size_t start = query == std::wstring::npos ? url.size() : query + 1;
  while (start < url.size()) {
    size_t end = url.find(L'&', start);
    if (end == std::wstring::npos) end = url.size();
    const std::wstring pair = url.substr(start, end - start);
    if (pair.compare(0, key.size() + 1, key + L"=") == 0) return pair.substr(key.size() + 1);
    start = end + 1;
  }
  return L"";
}

TEST(ErrorReport, EncodingKeepsUnreservedAndEscapesTheRestAsUtf8) {
  EXPECT_EQ(tw::PercentEncodeQueryValue(L"AZaz09-._~"), L"AZaz09-._~");
  EXPECT_EQ(tw::PercentEncodeQueryValue(L"a b&c=d#e?f%g/h"), L"a%20b%26c%3Dd%23e%3Ff%25g%2Fh");
  EXPECT_EQ(tw::PercentEncodeQueryValue(L"\u00E9\uD55C"), L"%C3%A9%ED%95%9C");
  EXPECT_EQ(tw::PercentEncodeQueryValue(L""), L"");
}

TEST(ErrorReport, UrlCarriesTheFourValuesWhole) {
  const std::wstring log =
      L"err at setupfile file download(3), chonsenURL:http://m/x.exe?a=1&b=2#frag, id:0 \uD55C\uAE00 100%";
  const std::wstring url = tw::BuildErrorLogUrl(L"tarnwick.online.setup", L"20200311", L"20200204", log);
  EXPECT_EQ(url.rfind(L"https://", 0), 0u);
  EXPECT_NE(url.find(L"/error/app.php?name=tarnwick.online.setup&buildDate=20200311&version=20200204&log="),
            std::wstring::npos);
  EXPECT_EQ(DecodeQueryValue(QueryValue(url, L"log")), log);
  EXPECT_EQ(url.find(L' '), std::wstring::npos);
  EXPECT_EQ(url.find(L'#'), std::wstring::npos);
  // An empty log gives a request that ends with "log=".
  const std::wstring empty = tw::BuildErrorLogUrl(L"n", L"d", L"v", L"");
  EXPECT_EQ(empty.substr(empty.size() - 4), L"log=");
}

TEST(ErrorReport, QueryReachesTheServerAsBuilt) {
  const std::wstring port = twtest::GetEnv(L"TW_HTTP_PORT");
  ASSERT_FALSE(port.empty()) << "the test server's port is not in the environment";
  const std::wstring url = tw::BuildErrorLogUrl(L"tarnwick.online.setup", L"20200311", L"20200204",
                                                L"err - a & b = c #1 \u00E9");
  const std::wstring query = url.substr(url.find(L'?'));
  tw::XMemoryWriteStream answer;
  int httperr = -1;
  ASSERT_TRUE(tw::XHttp_Get(L"http://127.0.0.1:" + port + L"/echo" + query, &answer, L"XHttp", &httperr,
                            nullptr));
  EXPECT_EQ(httperr, 0);
  const std::string echoed(reinterpret_cast<const char*>(answer.Data()), static_cast<size_t>(answer.GetSize()));
  const std::string firstLine = echoed.substr(0, echoed.find('\n'));
  EXPECT_EQ(Utf8ToWide(firstLine), L"/echo" + query);
  EXPECT_NE(echoed.find("User-Agent: XHttp\n"), std::string::npos);
}

}  // namespace
