// Model and platform rules of a loaded package.
#include "package/compatibility.h"

#include <cstring>
#include <string_view>

#include "package/package_info.h"

bool modelFits(const char* model, const char* modelList) {
    if (!model || !modelList) return false;
    const std::string_view list(modelList);
    if (list == "ALL") return true;
    const std::string_view wanted(model);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        const std::string_view item = list.substr(start, comma - start);
        if (!item.empty() && item == wanted) return true;
        start = comma + 1;
    }
    return false;
}

bool platformFits(const char* platform, int kind, int platformCode) {
    const std::string_view value(platform ? platform : "");
    if (kind == PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX) {
        switch (platformCode) {
            case 1:
                return value == "A20";
            case 2:
                return value == "S5P4418";
            case 0:
                return value != "A20";
            default:
                return true;  // no other code is made for this kind
        }
    }
    if (kind == PACKAGE_KIND_LINUX_EXTENSION_MASTER) {
        switch (platformCode) {
            case 5:
                return value == "hi3516a";
            case 6:
                return value == "hi3516ev300";
            case 0:
                return false;
            default:
                return true;  // no other code is made for this kind
        }
    }
    return true;
}
