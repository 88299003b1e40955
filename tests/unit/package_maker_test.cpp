// The package maker: its packages read back as a sender's would, and its broken variants are refused.
#include "sim/package_maker.h"

#include <gtest/gtest.h>

#include <string>

#include "package/package_info.h"
#include "protocol/des_variant.h"
#include "protocol/md5.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::readWholeFile;
using quenta_test::TempDir;

struct Read {
    int result;
    std::string modelList;
    bool verified;
};

Read readBack(const PackageSpec& spec) {
    TempDir dir;
    const std::string path = dir.file("made-1.0.quenta");
    EXPECT_EQ(makePackageFile(path, spec), 0);
    EXPECT_EQ(readWholeFile(path), makePackageBytes(spec));
    Read r{};
    int length = 0;
    r.result = readPackageInfoLocal(path.c_str(), r.modelList, length, &r.verified);
    EXPECT_EQ(length, static_cast<int>(r.modelList.size()));
    return r;
}

TEST(PackageMaker, VariantsReadBackAsExpected) {
    struct Case {
        const char* name;
        PackageHead head;
        bool withDigest;
        PackageFault fault;
        int result;
        bool verified;
    } cases[] = {
        {"enciphered head", PackageHead::Enciphered, true, PackageFault::None, 0, true},
        {"7z head", PackageHead::SevenZip, true, PackageFault::None, 0, true},
        {"no digest", PackageHead::Enciphered, false, PackageFault::None, 0, false},
        {"bad marker", PackageHead::Enciphered, true, PackageFault::BadMarker, -1, false},
        {"lowercase marker", PackageHead::Enciphered, true, PackageFault::LowercaseMarker, -1, false},
        {"L = 0", PackageHead::Enciphered, true, PackageFault::ZeroLength, -1, false},
        {"L < 0", PackageHead::Enciphered, true, PackageFault::NegativeLength, -1, false},
        {"L = S - 20", PackageHead::Enciphered, false, PackageFault::LengthTooLarge, -1, false},
        {"wrong digest", PackageHead::Enciphered, true, PackageFault::WrongDigest, -1, false},
        {"uppercase digest", PackageHead::SevenZip, true, PackageFault::UppercaseDigest, -1, false},
    };
    for (const Case& c : cases) {
        PackageSpec spec;
        spec.modelList = "X10,X1";
        spec.payloadSize = 20000;
        spec.head = c.head;
        spec.withDigest = c.withDigest;
        spec.fault = c.fault;
        const Read r = readBack(spec);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.verified, c.verified) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(r.modelList, "X10,X1") << c.name;
        }
    }
}

TEST(PackageMaker, StoredHeadIsWhatASenderWrites) {
    PackageSpec spec;
    spec.payloadSize = 3000;
    spec.seed = 42;
    const std::string plain = packagePlainPayload(spec);
    const std::string stored = makePackageBytes(spec);
    ASSERT_GE(stored.size(), plain.size());
    EXPECT_NE(stored.substr(0, 1024), plain.substr(0, 1024));
    EXPECT_EQ(stored.substr(1024, plain.size() - 1024), plain.substr(1024));
    std::string head = stored.substr(0, 1024);
    desDecryptBuffer(1024, head.data());
    EXPECT_EQ(head, plain.substr(0, 1024));
    EXPECT_EQ(packagePlainHead(stored.substr(0, 1024)), plain.substr(0, 1024));
    // The text carries the digest of the plain payload.
    EXPECT_NE(stored.find(",MD5:" + md5ToHex(md5Of(plain))), std::string::npos);

    spec.head = PackageHead::SevenZip;
    const std::string sevenZip = makePackageBytes(spec);
    EXPECT_EQ(sevenZip.substr(0, 6), std::string(kSevenZipSignature, 6));
    EXPECT_EQ(sevenZip.substr(0, 3000), packagePlainPayload(spec));
}

TEST(PackageMaker, GivenPayloadIsKept) {
    PackageSpec spec;
    spec.payload = std::string(5000, 'q');
    spec.modelList = "M";
    EXPECT_EQ(packagePlainPayload(spec), *spec.payload);
    EXPECT_EQ(readBack(spec).result, 0);
    spec.payload = std::string(1024, 'q');  // too short for a digest
    EXPECT_EQ(readBack(spec).result, -1);
    spec.withDigest = false;
    EXPECT_EQ(readBack(spec).result, 0);
}

TEST(PackageMaker, VersionTextReadsBackFromTheStoredFile) {
    for (PackageHead head : {PackageHead::Enciphered, PackageHead::SevenZip}) {
        PackageSpec spec;
        spec.version = "V2.3_7";
        spec.head = head;
        const std::string stored = makePackageBytes(spec);
        EXPECT_EQ(simPackageVersion(stored), "V2.3_7");
        EXPECT_EQ(simPackageVersion(stored.substr(0, 1024)), "V2.3_7");
        spec.version.clear();
        EXPECT_EQ(simPackageVersion(makePackageBytes(spec)), std::nullopt);
    }
    EXPECT_EQ(simPackageVersion(""), std::nullopt);
    EXPECT_EQ(simPackageVersion("7z"), std::nullopt);
}

TEST(PackageMaker, StreamedFileEqualsTheInMemoryPackage) {
    TempDir dir;
    for (PackageHead head : {PackageHead::Enciphered, PackageHead::SevenZip}) {
        PackageSpec spec;
        spec.payloadSize = (1 << 20) + 5000;  // more than one streamed chunk
        spec.version = "9.9";
        spec.seed = 7;
        spec.head = head;
        const std::string path = dir.file("large.quenta");
        ASSERT_EQ(makeLargePackageFile(path, spec), 0);
        EXPECT_TRUE(readWholeFile(path) == makePackageBytes(spec));
    }
}

TEST(PackageMaker, SeedsGiveDifferentPayloads) {
    PackageSpec a, b;
    b.seed = 2;
    EXPECT_NE(packagePlainPayload(a), packagePlainPayload(b));
    EXPECT_EQ(packagePlainPayload(a), packagePlainPayload(a));
    EXPECT_EQ(packagePlainPayload(a).size(), 4096u);
}

}  // namespace
