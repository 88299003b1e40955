// Package trailer reader and file-name rules.
#include "package/package_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/des_variant.h"
#include "protocol/md5.h"
#include "sim/package_maker.h"
#include "ss/ss_platform.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::TempDir;
using quenta_test::writeWholeFile;

const std::string kMarker = ">QUENTA_UPGRADE<";

// A package laid out by hand: payload, text, L (the text's size unless given), marker.
std::string rawPackage(const std::string& payload, const std::string& text,
                       std::optional<int32_t> length = std::nullopt, const std::string& marker = kMarker) {
    const auto value = static_cast<uint32_t>(length.value_or(static_cast<int32_t>(text.size())));
    std::string bytes = payload + text;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes + marker;
}

std::string hexOf(const std::string& bytes) {
    return md5ToHex(md5Of(bytes));
}

// A payload of `size` bytes whose first two bytes are not "7z".
std::string plainPayload(size_t size, char fill = 'p') {
    std::string payload(size, fill);
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + (i * 7) % 26);
    return payload;
}

std::string encipheredHead(std::string payload) {
    auto* bytes = reinterpret_cast<uint8_t*>(payload.data());
    desEncrypt(bytes, 1024, bytes);
    return payload;
}

struct ReadResult {
    int result;
    std::string modelList;
    int length;
    bool verified;
};

class PackageInfoTest : public ::testing::Test {
  protected:
    ReadResult readBytes(const std::string& bytes) {
        const std::string path = dir_.file("p" + std::to_string(counter_++) + ".quenta");
        EXPECT_TRUE(writeWholeFile(path, bytes));
        ReadResult r{};
        r.result = readPackageInfoLocal(path.c_str(), r.modelList, r.length, &r.verified);
        // The narrow entry point gives the same answer (temporary paths are ASCII).
        std::string narrowList;
        int narrowLength = -7;
        EXPECT_EQ(readPackageInfo(path.c_str(), narrowList, narrowLength), r.result);
        EXPECT_EQ(narrowList, r.modelList);
        EXPECT_EQ(narrowLength, r.length);
        return r;
    }
    TempDir dir_;
    int counter_ = 0;
};

TEST_F(PackageInfoTest, TrailerWithoutDigestGivesWholeText) {
    const ReadResult r = readBytes(rawPackage(plainPayload(3000), "X10,X1"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.modelList, "X10,X1");
    EXPECT_EQ(r.length, 6);
    EXPECT_FALSE(r.verified);
}

TEST_F(PackageInfoTest, MarkerMustMatchEveryByte) {
    const std::string payload = plainPayload(3000);
    std::vector<std::string> markers = {">quenta_upgrade<", ">QUENTA_UPGRADE>", "QUENTA_UPGRADE<<"};
    for (size_t i = 0; i < kMarker.size(); ++i) {
        std::string changed = kMarker;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        markers.push_back(changed);
    }
    for (const std::string& marker : markers) {
        const ReadResult r = readBytes(rawPackage(payload, "ALL", std::nullopt, marker));
        EXPECT_EQ(r.result, -1) << marker;
        EXPECT_EQ(r.modelList, "");
        EXPECT_EQ(r.length, 0);
    }
}

TEST_F(PackageInfoTest, LengthOutsideTheFileIsRefused) {
    const std::string payload = plainPayload(3000);
    const std::string text = "ALL";
    const int32_t size = static_cast<int32_t>(payload.size() + text.size() + 20);
    struct Case {
        int32_t length;
        int expected;
    } cases[] = {
        {0, -1},         {-1, -1}, {INT32_MIN, -1}, {size - 20, -1}, {size, -1},
        {INT32_MAX, -1}, {3, 0},   {size - 21, 0},  // the whole file but one byte is text: a one-byte payload
    };
    for (const Case& c : cases) {
        const ReadResult r = readBytes(rawPackage(payload, text, c.length));
        EXPECT_EQ(r.result, c.expected) << "L = " << c.length;
        if (c.expected == -1)
            EXPECT_EQ(r.length, 0);
        else
            EXPECT_EQ(r.length, c.length);
    }
}

TEST_F(PackageInfoTest, DigestSuffixRules) {
    const std::string plain = plainPayload(5000);
    const std::string stored = encipheredHead(plain);
    const std::string good = hexOf(plain);
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, good);
    struct Case {
        const char* name;
        std::string text;
        int expected;
        std::string modelList;
        bool verified;
    } cases[] = {
        {"verified digest", "X10,X1,MD5:" + good, 0, "X10,X1", true},
        {"one model char before the suffix", "A,MD5:" + good, 0, "A", true},
        {"37 characters are taken whole", ",MD5:" + good, 0, ",MD5:" + good, false},
        {"uppercase digest", "X1,MD5:" + upper, -1, "", false},
        {"digest of the stored bytes", "X1,MD5:" + hexOf(stored), -1, "", false},
        {"suffix marker in lower case is no suffix", "X1,md5:" + good, 0, "X1,md5:" + good, false},
        {"wrong digest", "X1,MD5:" + hexOf("other"), -1, "", false},
    };
    for (const Case& c : cases) {
        const ReadResult r = readBytes(rawPackage(stored, c.text));
        EXPECT_EQ(r.result, c.expected) << c.name;
        EXPECT_EQ(r.modelList, c.modelList) << c.name;
        EXPECT_EQ(r.length, static_cast<int>(c.modelList.size())) << c.name;
        EXPECT_EQ(r.verified, c.verified) << c.name;
    }
}

TEST_F(PackageInfoTest, DigestNeedsMoreThanTheHead) {
    for (size_t payloadSize : {size_t{1}, size_t{1000}, size_t{1024}, size_t{1025}}) {
        std::string plain = plainPayload(payloadSize);
        std::string stored = plain;
        if (payloadSize >= 1024) stored = encipheredHead(plain);
        const ReadResult r = readBytes(rawPackage(stored, "M1,MD5:" + hexOf(plain)));
        EXPECT_EQ(r.result, payloadSize > 1024 ? 0 : -1) << "payload " << payloadSize;
    }
}

TEST_F(PackageInfoTest, SevenZipHeadIsHashedAsStored) {
    std::string payload = plainPayload(4000);
    payload.replace(0, 6, std::string("7z\xBC\xAF\x27\x1C", 6));
    // As stored: verifies. The digest of a "deciphered" head does not.
    EXPECT_EQ(readBytes(rawPackage(payload, "M,MD5:" + hexOf(payload))).result, 0);
    std::string deciphered = payload;
    desDecryptBuffer(1024, deciphered.data());
    EXPECT_EQ(readBytes(rawPackage(payload, "M,MD5:" + hexOf(deciphered))).result, -1);
    // Only 0x37 0x7A count: "7Z" is an ordinary enciphered head.
    std::string upperZ = plainPayload(4000);
    upperZ[0] = '7';
    upperZ[1] = 'Z';
    EXPECT_EQ(readBytes(rawPackage(encipheredHead(upperZ), "M,MD5:" + hexOf(upperZ))).result, 0);
}

TEST_F(PackageInfoTest, OnlyTheFirst1024BytesAreDeciphered) {
    const std::string plain = plainPayload(4096);
    std::string stored = plain;
    auto* bytes = reinterpret_cast<uint8_t*>(stored.data());
    desEncrypt(bytes, 2048, bytes);  // a sender that enciphered too much
    EXPECT_EQ(readBytes(rawPackage(stored, "M,MD5:" + hexOf(plain))).result, -1);
    EXPECT_EQ(readBytes(rawPackage(encipheredHead(plain), "M,MD5:" + hexOf(plain))).result, 0);
}

TEST_F(PackageInfoTest, MakerPackageFailsWhenOnePayloadByteChanges) {
    PackageSpec spec;
    spec.modelList = "X10,X1";
    spec.payloadSize = 70000;  // several hash reads
    const std::string bytes = makePackageBytes(spec);
    EXPECT_EQ(readBytes(bytes).result, 0);
    for (size_t at :
         {size_t{0}, size_t{1023}, size_t{1024}, size_t{2047}, size_t{16384 + 1024}, size_t{69999}}) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x40);
        EXPECT_EQ(readBytes(changed).result, -1) << "byte " << at;
    }
}

TEST_F(PackageInfoTest, NarrowPathsGoThroughThePlatformLayer) {
    // A GBK path with Chinese text, and a drive path mapped under QUENTA_DRIVE_ROOT.
    PackageSpec spec;
    spec.modelList = "N1";
    const std::string utf8Path = dir_.file("地址盒-1.0.quenta");
    ASSERT_EQ(makePackageFile(utf8Path, spec), 0);
    std::string narrowPath;
    ASSERT_EQ(ss_platform_utf8ToGbk(utf8Path, narrowPath), 0);
    std::string list;
    int length = 0;
    EXPECT_EQ(readPackageInfo(narrowPath.c_str(), list, length), 0);
    EXPECT_EQ(list, "N1");

    const quenta_test::ScopedDriveRoot driveRoot;  // drive paths land in a temporary folder
    const std::string driveFile = ss_platform_mapPath("Q:\\pkgs\\drive-1.0.quenta");
    ASSERT_FALSE(driveFile.empty());
    std::filesystem::create_directories(std::filesystem::path(driveFile).parent_path());
    ASSERT_EQ(makePackageFile(driveFile, spec), 0);
    EXPECT_EQ(readPackageInfo("Q:\\pkgs\\drive-1.0.quenta", list, length), 0);
    EXPECT_EQ(list, "N1");
    EXPECT_EQ(readPackageInfo("Q:\\pkgs", list, length), -1);  // a folder
}

TEST_F(PackageInfoTest, AbsentFolderAndNullPathsFail) {
    std::string list = "stale";
    int length = 9;
    EXPECT_EQ(readPackageInfoLocal(nullptr, list, length), -1);
    EXPECT_EQ(list, "");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(readPackageInfoLocal(dir_.path().c_str(), list, length), -1);
    EXPECT_EQ(readPackageInfoLocal(dir_.file("absent.quenta").c_str(), list, length), -1);
    EXPECT_EQ(readPackageInfo(nullptr, list, length), -1);
    EXPECT_EQ(readPackageInfo(dir_.path().c_str(), list, length), -1);
    EXPECT_EQ(readPackageInfo(dir_.file("absent.quenta").c_str(), list, length), -1);
}

// The whole file as stored, across the 64 KiB block edges, at a GBK path; nothing for no file.
TEST_F(PackageInfoTest, FileMd5CoversEveryByteAsStored) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{200000}}) {
        const std::string bytes = plainPayload(size);
        const std::string path = dir_.file("m" + std::to_string(size) + ".quenta");
        ASSERT_TRUE(writeWholeFile(path, bytes));
        EXPECT_EQ(packageFileMd5Hex(path), hexOf(bytes)) << size;
    }
    const std::string utf8Path = dir_.file("地址盒-2.0.quenta");
    ASSERT_TRUE(writeWholeFile(utf8Path, rawPackage(plainPayload(3000), "ALL")));
    std::string narrowPath;
    ASSERT_EQ(ss_platform_utf8ToGbk(utf8Path, narrowPath), 0);
    EXPECT_EQ(packageFileMd5Hex(narrowPath), hexOf(rawPackage(plainPayload(3000), "ALL")));
    EXPECT_EQ(packageFileMd5Hex(dir_.file("absent.quenta")), "");
    EXPECT_EQ(packageFileMd5Hex(""), "");
}

// A stream that serves `bytes` but whose reads fail once `failAfter` bytes have been read in all.
struct FailingStream {
    std::string bytes;
    int64_t position = 0;
    int64_t served = 0;
    int64_t failAfter;
};

std::FILE* openFailing(const std::string& bytes, int64_t failAfter) {
    auto* stream = new FailingStream{bytes, 0, 0, failAfter};
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
        auto* s = static_cast<FailingStream*>(cookie);
        if (s->served >= s->failAfter) return -1;
        const int64_t available = static_cast<int64_t>(s->bytes.size()) - s->position;
        size_t n = static_cast<size_t>(
            std::max<int64_t>(0, std::min<int64_t>(available, static_cast<int64_t>(size))));
        n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), s->failAfter - s->served));
        std::memcpy(buffer, s->bytes.data() + s->position, n);
        s->position += static_cast<int64_t>(n);
        s->served += static_cast<int64_t>(n);
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
        auto* s = static_cast<FailingStream*>(cookie);
        const int64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? s->position
                                                  : static_cast<int64_t>(s->bytes.size());
        s->position = base + *offset;
        *offset = s->position;
        return 0;
    };
    io.close = [](void* cookie) -> int {
        delete static_cast<FailingStream*>(cookie);
        return 0;
    };
    return fopencookie(stream, "rb", io);
}

TEST(PackageInfoStreams, FailingOrShrinkingFilesAreRefused) {
    PackageSpec spec;
    spec.payloadSize = 50000;
    const std::string bytes = makePackageBytes(spec);
    std::string list;
    int length = 0;
    bool verified = true;
    // The whole stream readable: verifies.
    ASSERT_EQ(readPackageInfoFrom([&] { return openFailing(bytes, INT64_MAX); }, list, length, &verified), 0);
    EXPECT_TRUE(verified);
    // Reads fail after n bytes: the trailer, the head or the hashing stops short.
    for (int64_t n : {0, 10, 16, 100, 1100, 2048, 20000, 49000}) {
        EXPECT_EQ(readPackageInfoFrom([&] { return openFailing(bytes, n); }, list, length, &verified), -1)
            << "fails after " << n;
        EXPECT_EQ(list, "");
        EXPECT_EQ(length, 0);
        EXPECT_FALSE(verified);
    }
    // The file shrinks between the measuring open and the reading open.
    int opens = 0;
    const std::string shorter = bytes.substr(0, bytes.size() - 1000);
    EXPECT_EQ(readPackageInfoFrom([&] { return openFailing(opens++ == 0 ? bytes : shorter, INT64_MAX); },
                                  list, length),
              -1);
    // The payload shrinks but the trailer survives (a file rewritten while read).
    opens = 0;
    const std::string cut = bytes.substr(0, 30000) + bytes.substr(bytes.size() - 80);
    EXPECT_EQ(
        readPackageInfoFrom([&] { return openFailing(opens++ == 0 ? bytes : cut, INT64_MAX); }, list, length),
        -1);
    // An opener that fails.
    EXPECT_EQ(readPackageInfoFrom([] { return static_cast<std::FILE*>(nullptr); }, list, length), -1);
    EXPECT_EQ(readPackageInfoFrom(PackageFileOpener(), list, length), -1);
}

TEST(PackageInfoLarge, TrailerBeyondFourGibibytes) {
    // A sparse file: the trailer sits past 4 GiB, which needs 64-bit offsets.
    TempDir dir;
    const std::string path = dir.file("large.quenta");
    const std::string trailer = rawPackage("", "BIG1,BIG2");
    const int64_t size = (int64_t{4} << 30) + 4096;
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const bool ok = ftruncate(fileno(file), size - static_cast<off_t>(trailer.size())) == 0 &&
                        fseeko(file, 0, SEEK_END) == 0 &&
                        std::fwrite(trailer.data(), 1, trailer.size(), file) == trailer.size();
        std::fclose(file);
        if (!ok) GTEST_SKIP() << "no sparse file here";
    }
    std::string list;
    int length = 0;
    EXPECT_EQ(readPackageInfoLocal(path.c_str(), list, length), 0);
    EXPECT_EQ(list, "BIG1,BIG2");
    std::filesystem::remove(path);
}

TEST(PackageInfoLarge, StreamedPackageVerifies) {
    TempDir dir;
    const std::string path = dir.file("streamed.quenta");
    PackageSpec spec;
    spec.modelList = "Q1";
    spec.payloadSize = (int64_t{3} << 20) + 123;
    ASSERT_EQ(makeLargePackageFile(path, spec), 0);
    std::string list;
    int length = 0;
    bool verified = false;
    EXPECT_EQ(readPackageInfoLocal(path.c_str(), list, length, &verified), 0);
    EXPECT_EQ(list, "Q1");
    EXPECT_TRUE(verified);
}

std::string gbk(const char* utf8) {
    std::string out;
    EXPECT_EQ(ss_platform_utf8ToGbk(utf8, out), 0) << utf8;
    return out;
}

TEST(PackageFileName, Version) {
    struct Case {
        const char* name;
        std::optional<std::string> version;
    } cases[] = {
        {"pkg-1.2_3_4_5.quenta", "1.2_4_5"},
        {"pkg-1.2_3.quenta", "1.2_3"},
        {"pkg-1.2.3.quenta", "1.2.3"},
        {"pkg-a-b.quenta", "b"},
        {"-1.0.quenta", std::nullopt},
        {"pkg1.0.quenta", std::nullopt},
        {"pkg-.quenta", ""},
        {"pkg.1-2", std::nullopt},         // no "." after the last "-"
        {"pkg-1__2_3_4.quenta", "1_3_4"},  // a run of "_" separates like one
        {"pkg-_1_2_3_4_.quenta", "1_3_4"},
        {"pkg-1_2_3_4_5.quenta", "1_2_3_4_5"},
        {"pkg-1.2_3_4", "1"},  // the last "." ends the version, whatever follows
    };
    for (const Case& c : cases) EXPECT_EQ(packageVersionFromFileName(c.name), c.version) << c.name;
    EXPECT_EQ(packageVersionFromFileName(nullptr), std::nullopt);
    // At most 63 bytes: a longer version is refused, never cut.
    const std::string v63(63, '9');
    EXPECT_EQ(packageVersionFromFileName(("p-" + v63 + ".quenta").c_str()), v63);
    EXPECT_EQ(packageVersionFromFileName(("p-" + v63 + "9.quenta").c_str()), std::nullopt);
    // Chinese text before the version does not matter.
    EXPECT_EQ(packageVersionFromFileName(gbk("多媒体控制盒-V2.1.quenta").c_str()), "V2.1");
}

TEST(PackageFileName, KindAndPlatformCode) {
    struct Case {
        const char* utf8Name;
        int kind;
        int platformCode;
    } cases[] = {
        {"pkg-1.0.quenta", PACKAGE_KIND_GENERAL, 0},
        {"A20-1.0.quenta", PACKAGE_KIND_GENERAL, 0},
        {"A20多媒体控制盒-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX, 1},
        {"S5P4418多媒体控制盒-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX, 2},
        {"a20多媒体控制盒-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX, 0},
        {"新A20多媒体控制盒-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX, 0},
        {"多媒体文件包-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_FILE, 0},
        {"A20多媒体控制盒多媒体文件包-1.0.quenta", PACKAGE_KIND_MULTIMEDIA_FILE, 0},  // table order
        {"3516DLinux数字分机和5路10路主机-1.0.quenta", PACKAGE_KIND_LINUX_EXTENSION_MASTER, 5},
        {"3516E_Linux数字分机和5路10路主机-1.0.quenta", PACKAGE_KIND_LINUX_EXTENSION_MASTER, 6},
        {"Linux数字分机和5路10路主机-1.0.quenta", PACKAGE_KIND_LINUX_EXTENSION_MASTER, 0},
        {"linux数字分机和5路10路主机-1.0.quenta", PACKAGE_KIND_GENERAL, 0},
        {"3516D地址盒-1.0.quenta", PACKAGE_KIND_ADDRESS_BOX, 0},
        {"地址盒管理服务器-1.0.quenta", PACKAGE_KIND_ADDRESS_BOX, 0},
        {"管理服务器-1.0.quenta", PACKAGE_KIND_MANAGEMENT_SERVER, 0},
        {"多媒体控制-1.0.quenta", PACKAGE_KIND_GENERAL, 0},
    };
    for (const Case& c : cases) {
        const std::string name = gbk(c.utf8Name);
        const int kind = packageKindFromFileName(name.c_str());
        EXPECT_EQ(kind, c.kind) << c.utf8Name;
        EXPECT_EQ(platformCodeFromFileName(name.c_str(), kind), c.platformCode) << c.utf8Name;
    }
    // The words must be in GBK: their UTF-8 form does not count.
    EXPECT_EQ(packageKindFromFileName("多媒体文件包-1.0.quenta"), PACKAGE_KIND_GENERAL);
    EXPECT_EQ(packageKindFromFileName(nullptr), PACKAGE_KIND_GENERAL);
}

TEST(PackageFileName, WordsMatchOnlyAtCharacterStarts) {
    // "地址盒" is B5 D8 D6 B7 BA D0 in GBK; a lead byte 0xB0 followed by those bytes is not the word.
    const std::string word = gbk("地址盒");
    std::string shifted = "\xB0" + word + "x-1.0.quenta";
    EXPECT_EQ(packageKindFromFileName(shifted.c_str()), PACKAGE_KIND_GENERAL);
    EXPECT_EQ(packageKindFromFileName(("a" + word + "-1.0.quenta").c_str()), PACKAGE_KIND_ADDRESS_BOX);
}

TEST(PackageFileName, FileNameFromPath) {
    EXPECT_EQ(packageFileNameFromPath("C:\\pkgs\\p-1.0.quenta"), "p-1.0.quenta");
    EXPECT_EQ(packageFileNameFromPath("/home/u/pkgs/p-1.0.quenta"), "p-1.0.quenta");
    EXPECT_EQ(packageFileNameFromPath("C:\\a/b\\p-1.0.quenta"), "p-1.0.quenta");
    EXPECT_EQ(packageFileNameFromPath("p-1.0.quenta"), "p-1.0.quenta");
    EXPECT_EQ(packageFileNameFromPath("dir/"), "");
    // "昞" is 95 5C in GBK: its trail byte is not a separator.
    const std::string name = gbk("昞包-1.0.quenta");
    ASSERT_EQ(name[1], '\\');
    EXPECT_EQ(packageFileNameFromPath("C:\\pkgs\\" + name), name);
}

TEST(PackageFileName, KindKeys) {
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_GENERAL), "general");
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX), "multimedia-control-box");
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_MULTIMEDIA_FILE), "multimedia-file-package");
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_LINUX_EXTENSION_MASTER), "linux-extension-master");
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_ADDRESS_BOX), "address-box");
    EXPECT_STREQ(packageKindKey(PACKAGE_KIND_MANAGEMENT_SERVER), "management-server");
}

}  // namespace
