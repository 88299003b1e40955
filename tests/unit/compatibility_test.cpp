// Model and platform rules.
#include "package/compatibility.h"

#include <gtest/gtest.h>

#include "package/package_info.h"

namespace {

TEST(Compatibility, ModelFits) {
    struct Case {
        const char* model;
        const char* list;
        bool fits;
    } cases[] = {
        {"X1", "X10,X1", true},      {"X10", "X10,X1", true}, {"X", "X10,X1", false},
        {"X10,X1", "X10,X1", false}, {"x1", "X10,X1", false}, {"X1 ", "X10,X1", false},
        {"X1", "X10, X1", false},    {"ABC", "ALL", true},    {"", "ALL", true},
        {"ABC", "all", false},       {"all", "all", true},    {"ABC", "ALL,X1", false},
        {"ALL", "ALL,X1", true},     {"", "X1,,X2", false},   {"", "", false},
        {"X2", "X1,,X2", true},      {"X1", "X1,", true},     {nullptr, "ALL", false},
        {"X1", nullptr, false},      {"X1", "X1", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(modelFits(c.model, c.list), c.fits)
            << (c.model ? c.model : "(none)") << " in " << (c.list ? c.list : "(none)");
}

TEST(Compatibility, PlatformFits) {
    constexpr int box = PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX;
    constexpr int master = PACKAGE_KIND_LINUX_EXTENSION_MASTER;
    struct Case {
        const char* platform;
        int kind;
        int code;
        bool fits;
    } cases[] = {
        {"A20", box, 1, true},
        {"S5P4418", box, 1, false},
        {"a20", box, 1, false},
        {"S5P4418", box, 2, true},
        {"A20", box, 2, false},
        {nullptr, box, 2, false},
        {"S5P4418", box, 0, true},
        {"anything", box, 0, true},
        {nullptr, box, 0, true},
        {"A20", box, 0, false},
        {"A20 ", box, 0, true},
        {"hi3516a", master, 5, true},
        {"hi3516ev300", master, 5, false},
        {"hi3516A", master, 5, false},
        {"hi3516ev300", master, 6, true},
        {"hi3516a", master, 6, false},
        {"hi3516a", master, 0, false},
        {"hi3516ev300", master, 0, false},
        {nullptr, master, 0, false},
        {"A20", PACKAGE_KIND_GENERAL, 0, true},
        {nullptr, PACKAGE_KIND_MULTIMEDIA_FILE, 0, true},
        {"x", PACKAGE_KIND_ADDRESS_BOX, 0, true},
        {"x", PACKAGE_KIND_MANAGEMENT_SERVER, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platformFits(c.platform, c.kind, c.code), c.fits)
            << (c.platform ? c.platform : "(none)") << " kind " << c.kind << " code " << c.code;
}

}  // namespace
