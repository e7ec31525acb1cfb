// The plain libcurl client tav-req's engine is built on: N GETs of one URL, one after another,
// through one multi handle and one reused easy handle, bodies kept in memory. Prints the
// nanoseconds from the first request to the last answer, start-up excluded, so the benchmark
// can tell libcurl's own cost per request from what tav-req adds.
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: %s URL COUNT [USER PASSWORD]\n", argv[0]);
    return 2;
  }
  const char* url = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 1;
  CURLM* multi = curl_multi_init();
  CURL* easy = curl_easy_init();
  if (multi == nullptr || easy == nullptr) return 1;
  std::string body;
  long ok = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    if (argc == 5) {
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy, CURLOPT_USERNAME, argv[3]);
      curl_easy_setopt(easy, CURLOPT_PASSWORD, argv[4]);
    }
    curl_multi_add_handle(multi, easy);
    for (int running = 1; running > 0;) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) return 1;
      if (running > 0 && curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) return 1;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      long code = 0;
      curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &code);
      if (message->msg == CURLMSG_DONE && message->data.result == CURLE_OK && code == 200) ++ok;
    }
    curl_multi_remove_handle(multi, easy);
    body.clear();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%lld %ld\n", static_cast<long long>(std::chrono::nanoseconds(elapsed).count()), ok);
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  curl_global_cleanup();
  return ok == count ? 0 : 1;
}
