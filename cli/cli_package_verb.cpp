// The inspect verb: the package load checks of the window, printed as key/value lines.
#include "cli/cli_package_verb.h"

#include <string>

#include <CLI/CLI.hpp>

#include "package/package_info.h"
#include "package/package_load.h"
#include "ss/ss_platform.h"

namespace {

std::string toUtf8(const std::string& gbk) {
    std::string utf8;
    ss_platform_gbkToUtf8(gbk, utf8);  // lenient: a bad byte shows as U+FFFD
    return utf8;
}

}  // namespace

void cliAddInspectOptions(CLI::App& verb, std::string& path) {
    verb.add_option("PACKAGE", path, "the upgrade package (normally *.quenta)")
        ->required()
        ->check(CLI::Validator([](std::string& text) { return text.empty() ? "an empty path" : ""; }, "",
                               "non-empty"));
    verb.footer(
        "Checks a package as the window does when it is chosen and prints:\n"
        "  models, version, kind, platform, digest (verified or none)\n"
        "Exit 0 loaded, 1 refused (the window's message on stderr).");
}

int cliInspect(const std::string& path, std::FILE* out, std::FILE* err) {
    // The path is taken as the file system holds it: UTF-8 normally, the raw bytes of a GBK name too.
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
