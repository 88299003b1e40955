// Package maker: writes payload, package information text, length and marker as a sender does.
#include "sim/package_maker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "protocol/des_variant.h"
#include "protocol/md5.h"

namespace {

constexpr int kHeadSize = 1024;
constexpr char kMarker[] = ">QUENTA_UPGRADE<";
constexpr int kMarkerSize = 16;

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The generated plain payload, produced in order: the 7z signature (7z head), the version line
// (when a version is given), then pseudo-random bytes from the seed.
class PayloadGenerator {
  public:
    explicit PayloadGenerator(const PackageSpec& spec)
        : state_(0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(spec.seed) * 0xBF58476D1CE4E5B9ull)) {
        if (spec.head == PackageHead::SevenZip) prefix_.assign(kSevenZipSignature, kSevenZipSignatureSize);
        if (!spec.version.empty()) prefix_ += kSimVersionPrefix + spec.version + "\n";
        if (state_ == 0) state_ = 1;
    }

    // Appends the next `count` bytes to `out`.
    void next(size_t count, std::string& out) {
        while (count > 0 && offset_ < prefix_.size()) {
            out.push_back(prefix_[offset_++]);
            --count;
        }
        for (; count > 0; --count) {
            if (bitsLeft_ == 0) {
                // xorshift64*
                state_ ^= state_ >> 12;
                state_ ^= state_ << 25;
                state_ ^= state_ >> 27;
                word_ = state_ * 0x2545F4914F6CDD1Dull;
                bitsLeft_ = 64;
            }
            char byte = static_cast<char>(word_ & 0xFF);
            // A plain payload without the 7z head must not look like one.
            if (offset_ == 1 && out.size() >= 1 && out.back() == '7' && byte == 'z') byte = 'Z';
            out.push_back(byte);
            word_ >>= 8;
            bitsLeft_ -= 8;
            ++offset_;
        }
    }

  private:
    std::string prefix_;
    size_t offset_ = 0;
    uint64_t state_;
    uint64_t word_ = 0;
    int bitsLeft_ = 0;
};

// Enciphers the whole blocks of the first min(1024, size) bytes in place (what a sender does) unless
// the payload starts with the 7z bytes 0x37 0x7A.
void encipherHead(std::string& storedStart) {
    if (storedStart.size() >= 2 && storedStart[0] == 0x37 && storedStart[1] == 0x7A) return;
    const int blocks = static_cast<int>(std::min<size_t>(storedStart.size(), kHeadSize) & ~size_t{7});
    if (blocks == 0) return;
    auto* bytes = reinterpret_cast<uint8_t*>(storedStart.data());
    desEncrypt(bytes, blocks, bytes);
}

std::string digestText(const std::string& hex, const PackageSpec& spec) {
    if (spec.fault == PackageFault::UppercaseDigest) {
        std::string upper = hex;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper;
    }
    if (spec.fault == PackageFault::WrongDigest) return md5ToHex(md5Of(hex));  // of other bytes
    return hex;
}

// Package information text, L and marker, given the payload size and the payload's digest.
std::string trailer(const PackageSpec& spec, int64_t payloadSize, const std::string& hex) {
    std::string text = spec.modelList;
    if (spec.withDigest) text += ",MD5:" + digestText(hex, spec);
    int64_t length = static_cast<int64_t>(text.size());
    switch (spec.fault) {
        case PackageFault::ZeroLength:
            length = 0;
            break;
        case PackageFault::NegativeLength:
            length = -1;
            break;
        case PackageFault::LengthTooLarge:
            length = payloadSize + static_cast<int64_t>(text.size());
            break;
        default:
            break;
    }
    const auto value = static_cast<uint32_t>(static_cast<int32_t>(length));
    for (int i = 0; i < 4; ++i) text.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    std::string marker(kMarker, kMarkerSize);
    if (spec.fault == PackageFault::BadMarker) marker[1] = 'R';
    if (spec.fault == PackageFault::LowercaseMarker)
        for (char& c : marker) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text + marker;
}

}  // namespace

std::string packagePlainPayload(const PackageSpec& spec) {
    if (spec.payload) return *spec.payload;
    std::string payload;
    payload.reserve(static_cast<size_t>(std::max<int64_t>(spec.payloadSize, 0)));
    PayloadGenerator(spec).next(static_cast<size_t>(std::max<int64_t>(spec.payloadSize, 0)), payload);
    return payload;
}

std::string makePackageBytes(const PackageSpec& spec) {
    std::string payload = packagePlainPayload(spec);
    const std::string hex = md5ToHex(md5Of(payload));
    if (spec.head == PackageHead::Enciphered) encipherHead(payload);
    const int64_t payloadSize = static_cast<int64_t>(payload.size());
    return payload + trailer(spec, payloadSize, hex);
}

int makePackageFile(const std::string& localPath, const PackageSpec& spec) {
    const std::string bytes = makePackageBytes(spec);
    FilePtr file(std::fopen(localPath.c_str(), "wb"));
    if (!file) return -1;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return -1;
    return std::fclose(file.release()) == 0 ? 0 : -1;
}

int makeLargePackageFile(const std::string& localPath, const PackageSpec& spec) {
    FilePtr file(std::fopen(localPath.c_str(), "wb"));
    if (!file) return -1;
    const int64_t payloadSize = std::max<int64_t>(spec.payloadSize, 0);
    PayloadGenerator generator(spec);
    Md5Context context;
    md5Init(context);
    std::string chunk;
    constexpr size_t kChunk = 1 << 20;
    for (int64_t written = 0; written < payloadSize;) {
        chunk.clear();
        generator.next(static_cast<size_t>(std::min<int64_t>(payloadSize - written, kChunk)), chunk);
        md5Update(context, chunk.data(), chunk.size());
        if (written == 0 && spec.head == PackageHead::Enciphered) encipherHead(chunk);
        if (std::fwrite(chunk.data(), 1, chunk.size(), file.get()) != chunk.size()) return -1;
        written += static_cast<int64_t>(chunk.size());
    }
    Md5Digest digest;
    md5Final(context, digest);
    const std::string tail = trailer(spec, payloadSize, md5ToHex(digest));
    if (std::fwrite(tail.data(), 1, tail.size(), file.get()) != tail.size()) return -1;
    return std::fclose(file.release()) == 0 ? 0 : -1;
}

std::string packagePlainHead(std::string_view storedStart) {
    std::string head(storedStart);
    if (head.size() >= 2 && head[0] == 0x37 && head[1] == 0x7A) return head;
    const int length = static_cast<int>(std::min<size_t>(head.size(), kHeadSize));
    desDecryptBuffer(length, reinterpret_cast<uint8_t*>(head.data()));
    return head;
}

std::optional<std::string> simPackageVersion(std::string_view storedStart) {
    const std::string plain =
        packagePlainHead(storedStart.substr(0, std::min<size_t>(storedStart.size(), kHeadSize)));
    std::string_view view(plain);
    if (view.starts_with(std::string_view(kSevenZipSignature, kSevenZipSignatureSize)))
        view.remove_prefix(kSevenZipSignatureSize);
    if (!view.starts_with(kSimVersionPrefix)) return std::nullopt;
    view.remove_prefix(std::char_traits<char>::length(kSimVersionPrefix));
    const size_t end = view.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(view.substr(0, end));
}
