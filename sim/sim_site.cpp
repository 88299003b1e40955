// The simulated site: one epoll loop plays the address box and every device of a SimConfig.
// This file opens the site (peers, sockets, epoll), runs the loop that hands each ready socket to
// its part, and holds SimSite's public members. The parts: sim_site_record.cpp, sim_site_udp.cpp
// and sim_site_upload.cpp; their shared state is in sim_site_impl.h.
#include "sim/sim_site.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/device_actions.h"
#include "sim/sim_site_impl.h"

using namespace sim_internal;

namespace {

sockaddr_in makeAddress(const std::string& ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

uint64_t fnv1a(const std::string& text) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

}  // namespace

std::string sim_internal::endpointText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

UniqueFd sim_internal::bindSocket(int type, const std::string& ip, int port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::string("socket: ") + std::strerror(errno);
        return UniqueFd();
    }
    int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = makeAddress(ip, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

// ---------------------------------------------------------------------------------------------
// Opening and the loop

int SimSite::Impl::open(std::string& error) {
    if (opened) {
        error = "the site is already open";
        return -1;
    }
    std::vector<std::unique_ptr<Peer>> made;
    if (config.addressBox) {
        box = std::make_unique<SimAddressBoxConfig>(*config.addressBox);
        auto peer = std::make_unique<Peer>();
        peer->config = box->device;
        peer->box = box.get();
        made.push_back(std::move(peer));
    }
    for (const SimDeviceConfig& device : config.devices) {
        auto peer = std::make_unique<Peer>();
        peer->config = device;
        made.push_back(std::move(peer));
    }
    for (const auto& peer : made) {
        if (simCheckBindAddress(peer->config.ip, error) != 0) return -1;
        peer->softVersion = peer->config.softVersion;
        peer->loss = peer->config.faults.loss.value_or(config.loss);
        peer->listLoss = peer->box != nullptr ? peer->box->listFaults.loss.value_or(config.loss) : 0;
        peer->lossKey = mix(config.lossSeed ^ mix(fnv1a(peer->config.ip)));
    }
    // Two sockets per peer at most, plus upload services: raise the descriptor limit if needed.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        rlim_t want = static_cast<rlim_t>(made.size()) * 3 + 256;
        if (limit.rlim_cur < want && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = want < limit.rlim_max ? want : limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    stopEvent.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!epoll || !stopEvent) {
        error = std::string("epoll/eventfd: ") + std::strerror(errno);
        return -1;
    }
    for (const auto& peer : made) {
        peer->udp = bindSocket(SOCK_DGRAM, peer->config.ip, QN_PORT_DEVICE, error);
        if (!peer->udp) return closeAll(made);
        if (peer->box != nullptr) {
            peer->list = bindSocket(SOCK_DGRAM, peer->config.ip, QN_PORT_ADDRESS_BOX, error);
            if (!peer->list) return closeAll(made);
        }
    }
    sources.clear();
    if (!watch(stopEvent.get(), SourceKind::Stop, nullptr)) {
        error = std::string("epoll_ctl: ") + std::strerror(errno);
        return closeAll(made);
    }
    for (const auto& peer : made) {
        bool ok = watch(peer->udp.get(), SourceKind::DeviceUdp, peer.get());
        if (ok && peer->list) ok = watch(peer->list.get(), SourceKind::BoxList, peer.get());
        if (!ok) {
            error = std::string("epoll_ctl: ") + std::strerror(errno);
            return closeAll(made);
        }
    }
    peers = std::move(made);
    opened = true;
    std::lock_guard<std::mutex> lock(mutex);
    record.startedMs = nowMs();
    return 0;
}

int SimSite::Impl::closeAll(std::vector<std::unique_ptr<Peer>>& made) {
    for (auto& peer : made) {
        if (peer->udp) unwatch(peer->udp.get());
        if (peer->list) unwatch(peer->list.get());
    }
    made.clear();
    sources.clear();
    return -1;
}

bool SimSite::Impl::watch(int fd, SourceKind kind, Peer* peer, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) return false;
    sources[fd] = Source{kind, peer};
    return true;
}

void SimSite::Impl::unwatch(int fd) {
    epoll_ctl(epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
    sources.erase(fd);
}

int SimSite::Impl::loop(int durationMs, const std::atomic<bool>* stop) {
    if (!opened) return -1;
    const int64_t deadline = durationMs > 0 ? monotonicMs() + durationMs : INT64_MAX;
    epoll_event events[64];
    while (!stopping.load() && (stop == nullptr || !stop->load())) {
        int64_t now = monotonicMs();
        if (now >= deadline) break;
        int64_t wait = std::min<int64_t>(deadline - now, stop != nullptr ? 100 : 1000);
        if (!scheduled.empty())
            wait = std::min(wait, std::max<int64_t>(0, scheduled.begin()->first.first - now));
        if (!trickling.empty()) wait = std::min(wait, std::max<int64_t>(0, nextTrickleDue() - now));
        int n = epoll_wait(epoll.get(), events, 64, static_cast<int>(wait));
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            auto it = sources.find(fd);
            if (it == sources.end()) continue;
            Source source = it->second;
            switch (source.kind) {
                case SourceKind::Stop: {
                    uint64_t value = 0;
                    ssize_t ignored = ::read(fd, &value, sizeof value);
                    (void)ignored;
                    break;
                }
                case SourceKind::DeviceUdp:
                    onDatagrams(*source.peer, false);
                    break;
                case SourceKind::BoxList:
                    onDatagrams(*source.peer, true);
                    break;
                case SourceKind::TcpListen:
                    onAccept(*source.peer);
                    break;
                case SourceKind::TcpConnection:
                    onConnection(fd, events[i].events);
                    break;
            }
        }
        runDue();
        runTrickles();
    }
    std::lock_guard<std::mutex> lock(mutex);
    record.endedMs = nowMs();
    return 0;
}

void SimSite::Impl::wake() {
    if (!stopEvent) return;
    uint64_t one = 1;
    ssize_t ignored = ::write(stopEvent.get(), &one, sizeof one);
    (void)ignored;
}

// ---------------------------------------------------------------------------------------------
// SimSite

SimSite::SimSite(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SimSite::~SimSite() {
    stop();
}

int SimSite::open(std::string& error) {
    return impl_->open(error);
}

int SimSite::start() {
    if (!impl_->opened || impl_->thread.joinable()) return -1;
    impl_->stopping = false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->loop(0, nullptr); });
    return 0;
}

int SimSite::run(int durationMs, const std::atomic<bool>* stop) {
    return impl_->loop(durationMs, stop);
}

void SimSite::stop() {
    impl_->stopping = true;
    impl_->wake();
    if (impl_->thread.joinable()) impl_->thread.join();
}

SimRecord SimSite::record() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->record;
}

std::optional<std::string> SimSite::softVersion(const std::string& ip) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const auto& peer : impl_->peers)
        if (peer->config.ip == ip) return peer->softVersion;
    return std::nullopt;
}

int SimSite::peerCount() const {
    return static_cast<int>(impl_->config.devices.size()) + (impl_->config.addressBox ? 1 : 0);
}
