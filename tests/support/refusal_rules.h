// The flow's refusals written once: what the operator does, which control is pressed, and the error
// box that must come (title "错误提示", stop icon, nothing else changed). Each test suite drives the
// cases through its own front end: the engine directly (tests/e2e/query_test), the Qt window
// (tests/gui) and the Windows window (tests/win32). Addresses come from the suite's simulated site.
#pragma once

#include <string>
#include <vector>

namespace refusal_rules {

// Where the cases point on the suite's site.
struct SiteAddresses {
    std::string addressBox;   // answers as an address box
    std::string silent;       // nothing answers there
    std::string device;       // answers as a device that is not an address box
    std::string deviceModel;  // that device's model
};

enum class Press { query, add, upgrade };

struct Refusal {
    std::string name;
    Press press;
    std::string typedIp;        // into the address box field (query, upgrade) or 1023 (add); "" blank
    bool untickModels = false;  // query: every model box unticked first
    bool listDevice = false;    // upgrade: the device is listed by "添加" first (single-IP mode)
    bool untickRows = false;    // upgrade: and then unticked
    bool clearList = false;     // upgrade: and then "  清空列表" pressed
    std::string message;
};

// " 获取设备列表" with a package loaded, in the order the checks run.
std::vector<Refusal> queryRefusals(const SiteAddresses& site);
// "添加" in single-IP mode.
std::vector<Refusal> addRefusals(const SiteAddresses& site);
// "升级" in single-IP mode with a package loaded. Steps in this order: the address box typed, the
// device listed by "添加" (which enables "升级"), its row unticked, the list cleared, "升级" pressed.
std::vector<Refusal> upgradeRefusals(const SiteAddresses& site);

}  // namespace refusal_rules
