// Throughput of the TCP file transfer against a plain socket, both over loopback.
// Puts a 64 MiB file to a loopback upload service with ss_tcpfile (2048-byte chunks), then pushes the
// same bytes over a plain loopback TCP connection with 1 MiB reads and writes. Prints both rates and
// their ratio (goal: at least 0.5). Usage: transfer_bench [MiB] [rounds]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_tcpfile.h"

namespace {

constexpr size_t kBigIo = 1 << 20;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on 127.0.0.1 with a port the system picks.
int listenLoopback(int& port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    port = ntohs(address.sin_port);
    return listener;
}

bool readExactly(int descriptor, char* bytes, size_t count) {
    size_t offset = 0;
    while (offset < count) {
        const ssize_t got = ::recv(descriptor, bytes + offset, count - offset, 0);
        if (got <= 0) return false;
        offset += static_cast<size_t>(got);
    }
    return true;
}

// Reads `count` bytes with large reads and throws them away.
bool drain(int descriptor, int64_t count, std::vector<char>& buffer) {
    while (count > 0) {
        const ssize_t got = ::recv(descriptor, buffer.data(),
                                   static_cast<size_t>(std::min<int64_t>(count, buffer.size())), 0);
        if (got <= 0) return false;
        count -= got;
    }
    return true;
}

void closeWhenPeerCloses(int descriptor) {
    char sink[64];
    while (::recv(descriptor, sink, sizeof sink, 0) > 0) {
    }
    ::close(descriptor);
}

// The upload service's side: reads a PUT, answers OK, waits for the client to leave.
void uploadService(int listener) {
    const int connection = ::accept(listener, nullptr, nullptr);
    std::vector<char> buffer(kBigIo);
    char word[4];
    int32_t nameLength = 0, size = 0;
    bool ok = readExactly(connection, word, 4) && readExactly(connection, word, 4);
    std::memcpy(&nameLength, word, 4);  // little-endian host
    ok = ok && nameLength > 0 && nameLength < 4096 &&
         readExactly(connection, buffer.data(), static_cast<size_t>(nameLength)) &&
         readExactly(connection, word, 4);
    std::memcpy(&size, word, 4);
    ok = ok && drain(connection, size, buffer);
    const int32_t reply = ok ? SS_TCPFILE_CMD_OK : SS_TCPFILE_CMD_ERROR;
    ::send(connection, &reply, 4, MSG_NOSIGNAL);
    closeWhenPeerCloses(connection);
}

double ssTcpFileSeconds(const char* path) {
    int port = 0;
    const int listener = listenLoopback(port);
    std::thread service(uploadService, listener);
    const auto start = std::chrono::steady_clock::now();
    SS_TcpFileClientPtr client(SS_TcpFileClient_new(port, "127.0.0.1"));
    const int result = client ? SS_TcpFileClient_putFile("bench.bin", client.get(), path) : -1;
    const auto end = std::chrono::steady_clock::now();
    client.reset();
    service.join();
    ::close(listener);
    if (result != 0) {
        std::fprintf(stderr, "ss_tcpfile put failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(end - start).count();
}

// The same bytes over a plain connection: read the file and write it in pieces of `piece` bytes
// (1 MiB for the reference; 2048 shows the ceiling of one send per 2048-byte chunk).
double plainSeconds(const char* path, int64_t size, size_t piece) {
    int port = 0;
    const int listener = listenLoopback(port);
    std::thread service([listener, size] {
        const int connection = ::accept(listener, nullptr, nullptr);
        std::vector<char> buffer(kBigIo);
        const char reply = drain(connection, size, buffer) ? 'K' : 'E';
        ::send(connection, &reply, 1, MSG_NOSIGNAL);
        closeWhenPeerCloses(connection);
    });
    const auto start = std::chrono::steady_clock::now();
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) std::exit(1);
    FILE* file = std::fopen(path, "rb");
    std::vector<char> buffer(piece);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        size_t offset = 0;
        while (offset < got) {
            const ssize_t sent = ::send(descriptor, buffer.data() + offset, got - offset, MSG_NOSIGNAL);
            if (sent <= 0) std::exit(1);
            offset += static_cast<size_t>(sent);
        }
    }
    std::fclose(file);
    char reply = 0;
    readExactly(descriptor, &reply, 1);
    const auto end = std::chrono::steady_clock::now();
    ::close(descriptor);
    service.join();
    ::close(listener);
    if (reply != 'K') std::exit(1);
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int mebibytes = argc > 1 ? std::atoi(argv[1]) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int64_t size = static_cast<int64_t>(mebibytes) << 20;

    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/transfer-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string path = folder + "/bench.bin";
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        std::vector<char> block(kBigIo);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
        for (int64_t written = 0; written < size; written += static_cast<int64_t>(block.size()))
            std::fwrite(block.data(), 1, block.size(), file);
        std::fclose(file);
    }

    double bestTcpFile = 1e9, bestPlain = 1e9, bestSmall = 1e9;
    for (int round = 0; round < rounds; ++round) {
        bestTcpFile = std::min(bestTcpFile, ssTcpFileSeconds(path.c_str()));
        bestPlain = std::min(bestPlain, plainSeconds(path.c_str(), size, kBigIo));
        bestSmall = std::min(bestSmall, plainSeconds(path.c_str(), size, SS_TCPFILE_CHUNK));
    }
    const double megabytes = static_cast<double>(size) / 1e6;
    const double tcpFileRate = megabytes / bestTcpFile, plainRate = megabytes / bestPlain;
    const double smallRate = megabytes / bestSmall;
    std::printf("file size                     %d MiB, best of %d rounds\n", mebibytes, rounds);
    std::printf("ss_tcpfile put                %8.1f MB/s  (%.3f s)\n", tcpFileRate, bestTcpFile);
    std::printf("plain socket, 1 MiB writes    %8.1f MB/s  (%.3f s)\n", plainRate, bestPlain);
    std::printf("plain socket, 2048-byte writes%8.1f MB/s  (%.3f s)  ceiling of one send per chunk\n",
                smallRate, bestSmall);
    std::printf("ratio ss_tcpfile / plain      %8.2f  (goal >= 0.5)\n", tcpFileRate / plainRate);
    std::printf("ratio ss_tcpfile / 2048-byte  %8.2f\n", tcpFileRate / smallRate);

    std::remove(path.c_str());
    ::rmdir(folder.c_str());
    return 0;
}
