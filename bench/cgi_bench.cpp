// The CGI engine: the text work of every control request, and one whole request on loopback.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "camsim/cgi_server.h"
#include "control/base64.h"
#include "control/cgi_client.h"
#include "control/cgi_reply.h"
#include "control/query_builder.h"
#include "core/config.h"

using namespace ipcam;

namespace {

void BM_EncodeBase64(benchmark::State &state) {
    const char credentials[] = "administrator:a-long-password!";
    char out[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EncodeBase64(credentials, sizeof credentials - 1, out, sizeof out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EncodeBase64);

void BM_BuildQuery(benchmark::State &state) {
    const char *keys[] = {
        "Brightness=", "Contrast=", "Saturation=", "Hue=", "Sharpness=", "Mirror="};
    const char *values[] = {"50", "40", "", "7", "3", "1"};
    char text[256];
    for (auto _ : state) {
        std::strcpy(text, "CH=1&");
        benchmark::DoNotOptimize(BuildQuery(text, sizeof text, 6, keys, values));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildQuery);

std::string settingsReply(char separator) {
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    for (int i = 0; i < 40; ++i) {
        reply += "Setting" + std::to_string(i) + (separator == 'A' ? "=" : " = ") +
                 std::to_string(i * 7);
        reply += separator == 'A' ? "<br>\r\n" : "\n";
    }
    return reply;
}

void BM_GetValueA(benchmark::State &state) {
    const std::string reply = settingsReply('A');
    char value[64];
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupValueA(reply.c_str(), "Setting37", value, sizeof value));
}
BENCHMARK(BM_GetValueA);

void BM_GetValueB(benchmark::State &state) {
    const std::string reply = settingsReply('B');
    char value[64];
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupValueB(reply.c_str(), "Setting37", value, sizeof value));
}
BENCHMARK(BM_GetValueB);

// One complete Get: connect, send, read a Content-Length reply, classify, close.
void BM_GetRoundTrip(benchmark::State &state) {
    camsim::CgiServer server;
    server.start();
    server.setCredentials("admin", "secret");
    server.setValues("GetStatus.cgi", camsim::ReplyStyle::FamilyA,
                     {{"Status", "1"}, {"Model", "42"}});
    for (auto _ : state) {
        CgiClient client;
        client.SetAddress("127.0.0.1", server.port());
        client.SetCredentials("admin", "secret");
        if (client.Get("GetStatus.cgi") != 1) state.SkipWithError("request failed");
        server.clearRequests();
    }
    server.stop();
}
BENCHMARK(BM_GetRoundTrip)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
