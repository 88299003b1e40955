// The inspect verb: the package load checks of the window, printed as key/value lines.
#include "cli/cli_package_verb.h"

#include <cstring>
#include <string>

#include "package/package_info.h"
#include "package/package_load.h"
#include "ss/ss_platform.h"

namespace {

constexpr char kUsage[] = "usage: quenta-upgrade-cli inspect PACKAGE\n";

std::string toUtf8(const std::string& gbk) {
    std::string utf8;
    ss_platform_gbkToUtf8(gbk, utf8);  // lenient: a bad byte shows as U+FFFD
    return utf8;
}

}  // namespace

int cliInspect(int argc, char** argv, std::FILE* out, std::FILE* err) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, out);
        std::fputs(
            "Checks a package as the window does when it is chosen and prints:\n"
            "  models, version, kind, platform, digest (verified or none)\n",
            out);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0') {
        std::fputs(kUsage, err);
        return 2;
    }
    // The path is taken as the file system holds it: UTF-8 normally, the raw bytes of a GBK name too.
    const std::string path = argv[1];
    if (!packageExtensionIsQuenta(path)) std::fprintf(err, "warning: %s\n", kPackageExtensionWarning);

    std::string message;
    LoadedPackage package;
    if (packagePrecheck(path, message) != 0 || packageRead(path, package, message) != 0) {
        std::fprintf(err, "%s\n", message.c_str());
        return 1;
    }
    std::fprintf(out, "models: %s\n", toUtf8(package.modelList).c_str());
    std::fprintf(out, "version: %s\n", toUtf8(package.version).c_str());
    std::fprintf(out, "kind: %s\n", packageKindKey(package.kind));
    std::fprintf(out, "platform: %d\n", package.platformCode);
    std::fprintf(out, "digest: %s\n", package.digestVerified ? "verified" : "none");
    return std::fflush(out) == 0 ? 0 : 1;
}
