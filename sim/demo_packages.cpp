// The demo packages: see demo_packages.h. File names are UTF-8 on this system; the tool converts
// them to GBK itself. Each payload carries its version text, so an upgraded simulated device reports
// the package version after its reboot.
#include "sim/demo_packages.h"

#include <filesystem>

#include "sim/package_maker.h"

int makeDemoPackages(const std::string& folder, std::vector<std::string>& made, std::string& error) {
    struct Demo {
        const char* fileName;
        const char* models;
        const char* version;
        int64_t size;
        PackageHead head;
        uint32_t seed;
    };
    static const Demo kDemos[] = {
        {"QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210,QN-D310", "2.4.1", 256 * 1024, PackageHead::Enciphered,
         11},
        {"A20多媒体控制盒升级包-3.1.0.quenta", "QN-MB10", "3.1.0", 128 * 1024, PackageHead::SevenZip, 12},
        {"地址盒升级包-1.8.2.quenta", "QN-AB100", "1.8.2", 64 * 1024, PackageHead::Enciphered, 13},
    };
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        error = "cannot create " + folder + ": " + code.message();
        return -1;
    }
    for (const Demo& demo : kDemos) {
        PackageSpec spec;
        spec.modelList = demo.models;
        spec.version = demo.version;
        spec.payloadSize = demo.size;
        spec.head = demo.head;
        spec.seed = demo.seed;
        const std::string path = (std::filesystem::path(folder) / demo.fileName).string();
        if (makePackageFile(path, spec) != 0) {
            error = "cannot write " + path;
            return -1;
        }
        made.push_back(path);
    }
    return 0;
}
