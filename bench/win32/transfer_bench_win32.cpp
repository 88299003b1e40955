// Throughput of the TCP file transfer on Windows (run under wine), against plain sends of the same
// 2048-byte chunks, in the same run, both over loopback: puts a file to an in-process upload
// service with ss_tcpfile, then pushes the same bytes over a plain blocking connection with one
// send() per 2048 bytes (and, for reference, 1 MiB sends). Prints the rates and the ratio
// ss_tcpfile / 2048-byte sends (goal: at least 0.9).
//
//   win32_transfer_bench [MiB] [rounds]      (defaults 64, 3)
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_tcpfile.h"

namespace {

constexpr int kBigIo = 1 << 20;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

SOCKET listenLoopback(int& port) {
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    int length = sizeof address;
    if (listener == INVALID_SOCKET ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "listen failed: %d\n", WSAGetLastError());
        std::exit(1);
    }
    port = ntohs(address.sin_port);
    return listener;
}

bool readExactly(SOCKET s, char* bytes, int count) {
    for (int offset = 0; offset < count;) {
        const int got = ::recv(s, bytes + offset, count - offset, 0);
        if (got <= 0) return false;
        offset += got;
    }
    return true;
}

bool drain(SOCKET s, long long count, std::vector<char>& buffer) {
    while (count > 0) {
        const int got =
            ::recv(s, buffer.data(), static_cast<int>(std::min<long long>(count, buffer.size())), 0);
        if (got <= 0) return false;
        count -= got;
    }
    return true;
}

void closeWhenPeerCloses(SOCKET s) {
    char sink[64];
    while (::recv(s, sink, sizeof sink, 0) > 0) {
    }
    ::closesocket(s);
}

// The upload service's side: reads a PUT, answers OK, waits for the client to leave.
void uploadService(SOCKET listener) {
    const SOCKET connection = ::accept(listener, nullptr, nullptr);
    std::vector<char> buffer(kBigIo);
    char word[4];
    int nameLength = 0, size = 0;
    bool ok = readExactly(connection, word, 4) && readExactly(connection, word, 4);
    std::memcpy(&nameLength, word, 4);
    ok = ok && nameLength > 0 && nameLength < 4096 && readExactly(connection, buffer.data(), nameLength) &&
         readExactly(connection, word, 4);
    std::memcpy(&size, word, 4);
    ok = ok && drain(connection, size, buffer);
    const int reply = ok ? SS_TCPFILE_CMD_OK : SS_TCPFILE_CMD_ERROR;
    ::send(connection, reinterpret_cast<const char*>(&reply), 4, 0);
    closeWhenPeerCloses(connection);
}

double ssTcpFileSeconds(const char* path) {
    int port = 0;
    const SOCKET listener = listenLoopback(port);
    std::thread service(uploadService, listener);
    const auto start = std::chrono::steady_clock::now();
    SS_TcpFileClientPtr client(SS_TcpFileClient_new(port, "127.0.0.1"));
    const int result = client ? SS_TcpFileClient_putFile("bench.bin", client.get(), path) : -1;
    const auto end = std::chrono::steady_clock::now();
    client.reset();
    service.join();
    ::closesocket(listener);
    if (result != 0) {
        std::fprintf(stderr, "ss_tcpfile put failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(end - start).count();
}

double plainSeconds(const char* path, long long size, int piece) {
    int port = 0;
    const SOCKET listener = listenLoopback(port);
    std::thread service([listener, size] {
        const SOCKET connection = ::accept(listener, nullptr, nullptr);
        std::vector<char> buffer(kBigIo);
        const char reply = drain(connection, size, buffer) ? 'K' : 'E';
        ::send(connection, &reply, 1, 0);
        closeWhenPeerCloses(connection);
    });
    const auto start = std::chrono::steady_clock::now();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) std::exit(1);
    FILE* file = std::fopen(path, "rb");
    std::vector<char> buffer(static_cast<size_t>(piece));
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        for (size_t offset = 0; offset < got;) {
            const int sent = ::send(s, buffer.data() + offset, static_cast<int>(got - offset), 0);
            if (sent <= 0) std::exit(1);
            offset += static_cast<size_t>(sent);
        }
    }
    std::fclose(file);
    char reply = 0;
    readExactly(s, &reply, 1);
    const auto end = std::chrono::steady_clock::now();
    ::closesocket(s);
    service.join();
    ::closesocket(listener);
    if (reply != 'K') std::exit(1);
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int mebibytes = argc > 1 ? std::atoi(argv[1]) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const long long size = static_cast<long long>(mebibytes) << 20;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;

    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "quenta-transfer-bench.bin";
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return 1;
        std::vector<char> block(kBigIo);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
        for (long long written = 0; written < size; written += kBigIo)
            std::fwrite(block.data(), 1, block.size(), file);
        std::fclose(file);
    }
    double bestTcpFile = 1e9, bestSmall = 1e9, bestBig = 1e9;
    for (int round = 0; round < rounds; ++round) {
        bestTcpFile = std::min(bestTcpFile, ssTcpFileSeconds(path.c_str()));
        bestSmall = std::min(bestSmall, plainSeconds(path.c_str(), size, SS_TCPFILE_CHUNK));
        bestBig = std::min(bestBig, plainSeconds(path.c_str(), size, kBigIo));
    }
    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("file size                      %d MiB, best of %d rounds (loopback, this process)\n",
                mebibytes, rounds);
    std::printf("ss_tcpfile put                 %8.1f MB/s  (%.3f s)\n", megabytes / bestTcpFile,
                bestTcpFile);
    std::printf("plain socket, 2048-byte sends  %8.1f MB/s  (%.3f s)\n", megabytes / bestSmall, bestSmall);
    std::printf("plain socket, 1 MiB sends      %8.1f MB/s  (%.3f s)\n", megabytes / bestBig, bestBig);
    std::printf("ratio ss_tcpfile / 2048-byte   %8.2f  (goal >= 0.9)\n", bestSmall / bestTcpFile);
    std::remove(path.c_str());
    WSACleanup();
    return 0;
}
