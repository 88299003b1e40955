// Shared pieces of the engine's end-to-end tests and benchmarks: a mixed simulated site with every
// fault mode, packages written into a temporary folder, and a headless flow wired to a site.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/headless_ui.h"
#include "engine/upgrade_flow.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"

namespace engine_test {

// Which group a device of the mixed site belongs to, and so how the flow must show it.
enum class Expect {
    upToDate,     // answers, fits, same version: 已连接, not ticked by the version rule
    older,        // answers, fits, other version: ticked; upgraded to 升级完成
    uploadFails,  // answers and fits, but its upload service fails: 升级失败
    silent,       // never answers (or only junk): a 连接失败 row only with the failed-device step
    noRow,        // answers without SerialNum: marked answered, no row
    notAsked,     // model not ticked, or not listed by the address box: never appears
};

struct SiteDevice {
    std::string ip;
    std::string model;
    std::string softVersion;
    Expect expect;
    bool tcp = true;
};

struct MixedSite {
    SimConfig config;
    std::string addressBoxIp;
    std::vector<SiteDevice> devices;
    std::vector<std::string> phantoms;      // listed addresses where nothing answers
    std::vector<std::string> tickedModels;  // models the query asks for
    int count(Expect expect) const;
};

// About 50 devices: models QN-H200 (hi3516a), QN-S210 and QN-D310 (hi3516ev300), QN-Q800 (not
// ticked), every fault of the simulator, marked answers, two phantom addresses.
MixedSite makeMixedSite();

// A site of n answering QN-H200 devices at version 2.3.9 (and the address box), for benchmarks.
MixedSite makeUniformSite(int devices);

// Writes a package with a generated payload that starts with the version text (so the simulated
// device reports the new version after its reboot). Returns the local path.
std::string writePackage(const std::string& folder, const std::string& utf8FileName,
                         const std::string& models, const std::string& version,
                         long long payloadSize = 64 * 1024);

// A flow with its headless front end and a running site. Its runs go in one go unless `stages`
// (the window's default) is asked for.
struct FlowRig {
    explicit FlowRig(const SimConfig& config, std::FILE* progress = nullptr, bool stages = false);
    ~FlowRig();
    HeadlessUi ui;
    std::unique_ptr<UpgradeFlow> flow;
    std::unique_ptr<SimSite> site;
    bool ok = false;  // the site opened and the flow initialised
    std::string error;

    // Load, tick the given models (all when empty), set the address box, query.
    bool query(const std::string& packagePath, const std::string& addressBox,
               const std::vector<std::string>& models = {}, bool showFailed = false);
    // Presses "升级" and serves until the run ended and no row is 正在升级.
    void upgradeAndWait();
    int rowOf(const std::string& ip) const;  // row index by IP text, -1 when none
    std::string status(const std::string& ip) const;
    std::string cell(const std::string& ip, int column) const;
    bool checked(const std::string& ip) const;
};

}  // namespace engine_test
