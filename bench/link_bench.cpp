// Links of the simulated site (sim/netns-run --link-rate): a TCP transfer to a device address takes
// at least its size over the link rate, and other traffic is not slowed. Runs itself inside a private
// namespace whose first 4 site addresses have links of RATE Mbit/s and times, for SIZE MiB:
//   the tool to one device (shaped), the tool to an address that is no device's (unshaped), a device
//   to the tool (unshaped: the tool's side), and the tool to 4 devices at once (a link each).
// Prints each time over its floor (SIZE at the link rate). Usage: link_bench [RATE] [SIZE]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_config.h"

namespace {

constexpr size_t kIo = 1 << 20;

sockaddr_in endpoint(const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

// Owns a socket descriptor.
struct Socket {
    int fd = -1;
    explicit Socket(int descriptor) : fd(descriptor) {}
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// Seconds to send `bytes` from `from` to `to` over TCP, until the receiver has read them all.
double transfer(const std::string& from, const std::string& to, int64_t bytes) {
    Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = endpoint(to, 0);
    socklen_t length = sizeof address;
    if (listener.fd < 0 || ::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.fd, 1) != 0 ||
        ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        die("listen");
    const auto start = std::chrono::steady_clock::now();
    std::thread receiver([&] {
        Socket connection(::accept(listener.fd, nullptr, nullptr));
        if (connection.fd < 0) die("accept");
        std::vector<char> buffer(kIo);
        for (int64_t left = bytes; left > 0;) {
            const ssize_t got = ::recv(connection.fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) die("recv");
            left -= got;
        }
    });
    Socket client(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in source = endpoint(from, 0);
    if (client.fd < 0 || ::bind(client.fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        die("connect");
    std::vector<char> chunk(kIo, 'q');
    for (int64_t left = bytes; left > 0;) {
        const ssize_t sent =
            ::send(client.fd, chunk.data(), static_cast<size_t>(std::min<int64_t>(left, kIo)), 0);
        if (sent <= 0) die("send");
        left -= sent;
    }
    receiver.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void print(const char* what, double seconds, double floor, const char* goal) {
    std::printf("  %-44s %8.3f s  %7.2f x floor   goal %s\n", what, seconds, seconds / floor, goal);
}

}  // namespace

int main(int argc, char** argv) {
    const int mbit = argc > 1 ? std::atoi(argv[1]) : 100;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 16;
    if (mbit <= 0 || mib <= 0) {
        std::fprintf(stderr, "usage: link_bench [RATE Mbit/s] [SIZE MiB]\n");
        return 2;
    }
    const std::string rate = std::to_string(mbit) + "mbit";
    simReexecInPrivateNamespace(argv, 4, rate.c_str());

    const int64_t bytes = static_cast<int64_t>(mib) << 20;
    const double floor = static_cast<double>(bytes) * 8 / (mbit * 1e6);  // tc's mbit is 10^6 bit/s
    const std::string tool = "192.0.2.1", device = *simSiteAddress(0), noDevice = "192.0.2.200";
    std::printf(
        "link_bench: %d MiB per transfer, links of %d Mbit/s on the first 4 site addresses; floor %.3f s\n",
        mib, mbit, floor);
    print(("tool -> device " + device).c_str(), transfer(tool, device, bytes), floor,
          "1.00 to 1.05 (shaped)");
    print(("tool -> " + noDevice + " (no device)").c_str(), transfer(tool, noDevice, bytes), floor,
          "< 0.2 (unshaped)");
    print(("device " + device + " -> tool").c_str(), transfer(device, tool, bytes), floor,
          "< 0.2 (the tool's side is unshaped)");

    std::vector<double> seconds(4);
    std::vector<std::thread> parallel;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i)
        parallel.emplace_back([&, i] { seconds[i] = transfer(tool, *simSiteAddress(i), bytes); });
    for (auto& t : parallel) t.join();
    const double all = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    print("tool -> 4 devices at once (all done)", all, floor, "1.00 to 1.10 (a link each, not one shared)");
    print("  the fastest of the 4", *std::min_element(seconds.begin(), seconds.end()), floor, ">= 1.00");
    return 0;
}
