// A plain sequential libcurl client: GETs every URL of a file, one after the
// other, and nothing else. The end-to-end benchmark times it against the
// collector making the same requests.

#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::size_t append(char* data, std::size_t size, std::size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: plain_client URL_FILE\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_ALL);
    std::ifstream urls(argv[1]);
    std::size_t fetched = 0, bytes = 0;
    for (std::string url; std::getline(urls, url);) {
        std::string body;
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        if (curl_easy_perform(curl) == CURLE_OK) {
            ++fetched;
            bytes += body.size();
        }
        curl_easy_cleanup(curl);
    }
    std::printf("%zu pages, %zu bytes\n", fetched, bytes);
    curl_global_cleanup();
    return 0;
}
