// How long a pen report takes from the virtual pad to a page's WebSocket client through the
// bridge (pad -> reader thread -> network thread -> loopback TCP -> client), beside the
// in-process pen callback's latency for the same reports measured in the same run (before
// and after the bridge part). Prints median and p99 of each and their ratio.
//
//   bench/bridge/bridge_latency_bench [samples]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Beast.h"
#include "Hub.h"
#include "Log.h"
#include "PadService.h"
#include "Server.h"
#include "bench/common/CallbackLatency.h"
#include "zeltablet/ZELTabletCore.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace zelbridge;

struct Stats {
    double medianUs = 0;
    double p99Us = 0;
};

Stats summarise(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

SimulatorPenPoint point(int i) {
    return SimulatorPenPoint{0, uint32_t(1000 + i % 5000), 2000, 1000, 1, 1};
}

std::vector<double> callbackLatencies(int samples) {
    return zelbench::callbackLatencies(samples, 0x5A0B0001, point);
}

// The same reports through the bridge to a WebSocket client on this thread.
std::vector<double> bridgeLatencies(int samples) {
    std::vector<double> latencies;
    asio::io_context io(1);
    PadService pad(true, 0xA3);
    pad.setScriptedSignature(false);
    Hub hub(io, pad);
    Server server(io, hub, ServerSettings{});
    std::string error;
    if (!server.listen(0, error)) {
        std::fprintf(stderr, "bridge: %s\n", error.c_str());
        return latencies;
    }
    const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
    server.setOrigins({origin});
    std::thread network([&] { io.run(); });

    {
        asio::io_context clientIo;
        websocket::stream<tcp::socket> client(clientIo);
        client.next_layer().connect(tcp::endpoint(asio::ip::address_v4::loopback(), server.port()));
        client.set_option(websocket::stream_base::decorator(
            [&](websocket::request_type& request) { request.set(http::field::origin, origin); }));
        client.handshake("127.0.0.1:" + std::to_string(server.port()), "/pad");
        beast::flat_buffer buffer;
        auto request = [&](const char* type) {
            client.text(true);
            client.write(asio::buffer(nlohmann::json{{"v", 1}, {"type", type}}.dump()));
            while (true) {
                buffer.clear();
                client.read(buffer);
                const auto reply = nlohmann::json::parse(beast::buffers_to_string(buffer.data()));
                if (reply["type"] == "result" || reply["type"] == "error") return reply;
            }
        };
        request("connect");
        request("capture-start");
        for (int i = 0; i < samples; ++i) {
            const SimulatorPenPoint p = point(i);
            const Clock::time_point sent = Clock::now();
            SimulatorQueueStroke(pad.virtualPad(), &p, 1);
            bool arrived = false;
            while (!arrived) {
                buffer.clear();
                client.read(buffer);
                const std::string text = beast::buffers_to_string(buffer.data());
                arrived = text.find("\"samples\"") != std::string::npos;
            }
            latencies.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        }
        request("capture-stop");
        request("release");
        beast::error_code ignored;
        client.close(websocket::close_code::normal, ignored);
    }
    server.stop();
    io.stop();
    network.join();
    return latencies;
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const std::vector<double> before = callbackLatencies(samples);
    const std::vector<double> bridge = bridgeLatencies(samples);
    const std::vector<double> after = callbackLatencies(samples);
    std::vector<double> callback = before;
    callback.insert(callback.end(), after.begin(), after.end());
    const Stats inProcess = summarise(callback), overBridge = summarise(bridge);
    std::printf(
        "pen report -> in-process callback:  median %8.1f us  p99 %8.1f us  (%zu samples)\n",
        inProcess.medianUs, inProcess.p99Us, callback.size());
    std::printf(
        "pen report -> WebSocket client:     median %8.1f us  p99 %8.1f us  (%zu samples)\n",
        overBridge.medianUs, overBridge.p99Us, bridge.size());
    if (inProcess.medianUs > 0)
        std::printf(
            "ratio bridge / in-process: median %.2fx, p99 %.2fx (targets: median <= 3x, "
            "p99 <= 5 ms)\n",
            overBridge.medianUs / inProcess.medianUs, overBridge.p99Us / inProcess.p99Us);
    return bridge.size() == size_t(samples) && callback.size() == size_t(2 * samples) ? 0 : 1;
}
