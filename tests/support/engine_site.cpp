#include "tests/support/engine_site.h"

#include <set>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "sim/package_maker.h"
#include "ss/ss_dir.h"
#include "tests/support/netns.h"

namespace engine_test {

int MixedSite::count(Expect expect) const {
    int n = 0;
    for (const auto& d : devices)
        if (d.expect == expect) ++n;
    return n;
}

namespace {

SimDeviceConfig deviceConfig(const std::string& ip, const std::string& model, const std::string& platform,
                             const std::string& version, int serial) {
    SimDeviceConfig c;
    c.ip = ip;
    c.model = model;
    c.platform = platform;
    c.master = 1 + serial % 3;
    c.slave = serial % 7;
    c.hardVersion = "HW-1.0";
    c.kernelVersion = "3.10.108";
    c.softVersion = version;
    char text[32];
    std::snprintf(text, sizeof text, "QNT2H2%05d", serial);
    c.serialNum = text;
    c.uploadPath = "C:\\Work/quenta/upload/QN_UPGRADE/upgrade-" + std::to_string(serial) + ".bin";
    return c;
}

SimAddressBoxConfig addressBox(const std::string& ip) {
    SimAddressBoxConfig box;
    box.device = deviceConfig(ip, "QN-AB100", "A20", "1.8.0", 0);
    box.device.serialNum = "QNT0AB10001";
    box.device.systemInfoForm = SimAnswerForm::Des;
    box.maxAddressesPerDatagram = 8;
    return box;
}

}  // namespace

MixedSite makeMixedSite() {
    MixedSite site;
    int next = 0;
    auto ip = [&] { return quenta_test::siteAddress(next++); };
    site.addressBoxIp = ip();
    site.config.addressBox = addressBox(site.addressBoxIp);
    site.tickedModels = {"QN-H200", "QN-S210", "QN-D310"};
    int serial = 1;
    auto add = [&](const std::string& model, const std::string& platform, const std::string& version,
                   Expect expect, auto&& tweak) {
        SimDeviceConfig c = deviceConfig(ip(), model, platform, version, serial++);
        tweak(c);
        site.devices.push_back({c.ip, model, version, expect, c.tcpSupport && !c.faults.noTcpSupport});
        site.config.devices.push_back(std::move(c));
    };
    auto none = [](SimDeviceConfig&) {};
    for (int i = 0; i < 10; ++i) add("QN-H200", "hi3516a", "2.4.1", Expect::upToDate, none);
    for (int i = 0; i < 4; ++i)
        add("QN-H200", "hi3516a", "2.3.9", Expect::older,
            [i](SimDeviceConfig& c) { c.answerForm = i < 2 ? SimAnswerForm::Xor : SimAnswerForm::Des; });
    // GetSystemInfoOK as marked texts, DES and XOR, hex digits in either case: decoded on the
    // listener, listed and upgraded like plain devices.
    for (int i = 0; i < 4; ++i)
        add("QN-H200", "hi3516a", "2.3.9", Expect::older, [i](SimDeviceConfig& c) {
            c.systemInfoForm = i % 2 == 0 ? SimAnswerForm::Des : SimAnswerForm::Xor;
            c.upperCaseHex = i >= 2;
        });
    for (int i = 0; i < 8; ++i)
        add("QN-S210", "hi3516ev300", "2.4.0", Expect::older, [i](SimDeviceConfig& c) {
            if (i < 2)
                c.faults.answerTwice = true;
            else if (i < 4)
                c.faults.garbage = SimGarbage::Before;
            else if (i == 4)
                c.faults.delayMs = 300;
            else if (i == 5) {
                c.master = 0;
                c.slave = 0;
            } else if (i == 6) {
                c.master.reset();
                c.slave.reset();
            }
        });
    for (int i = 0; i < 3; ++i)
        add("QN-D310", "hi3516ev300", "2.3.0", Expect::silent,
            [](SimDeviceConfig& c) { c.faults.silent = true; });
    for (int i = 0; i < 10; ++i)
        add("QN-D310", "hi3516ev300", "2.3.0", Expect::uploadFails, [i](SimDeviceConfig& c) {
            switch (i / 2) {
                case 0:
                    c.faults.noTcpSupport = true;
                    break;
                case 1:
                    c.faults.portZero = true;
                    break;
                case 2:
                    c.faults.tcpErrorText = "\xB4\xE6\xB4\xA2\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3";
                    break;  // GBK 存储空间不足
                case 3:
                    c.faults.tcpReplyCode = 7;
                    break;
                default:
                    c.faults.closeHalfway = true;
                    break;
            }
        });
    for (int i = 0; i < 2; ++i)
        add("QN-S210", "hi3516ev300", "2.4.0", Expect::noRow,
            [](SimDeviceConfig& c) { c.faults.noSerialNum = true; });
    add("QN-H200", "hi3516a", "2.3.9", Expect::silent,
        [](SimDeviceConfig& c) { c.faults.garbage = SimGarbage::Instead; });
    for (int i = 0; i < 3; ++i) add("QN-Q800", "hi3516a", "2.0.0", Expect::notAsked, none);
    for (int i = 0; i < 2; ++i)
        add("QN-H200", "hi3516a", "2.3.9", Expect::notAsked, [](SimDeviceConfig& c) { c.listed = false; });
    for (int i = 0; i < 2; ++i) {
        std::string phantom = ip();
        site.phantoms.push_back(phantom);
        site.config.addressBox->phantoms.push_back({phantom, "*"});
    }
    return site;
}

MixedSite makeUniformSite(int devices) {
    MixedSite site;
    int next = 0;
    site.addressBoxIp = quenta_test::siteAddress(next++);
    site.config.addressBox = addressBox(site.addressBoxIp);
    site.config.addressBox->maxAddressesPerDatagram = 50;
    site.tickedModels = {"QN-H200"};
    for (int i = 0; i < devices; ++i) {
        SimDeviceConfig c =
            deviceConfig(quenta_test::siteAddress(next++), "QN-H200", "hi3516a", "2.3.9", i + 1);
        site.devices.push_back({c.ip, c.model, c.softVersion, Expect::older, true});
        site.config.devices.push_back(std::move(c));
    }
    return site;
}

std::string writePackage(const std::string& folder, const std::string& utf8FileName,
                         const std::string& models, const std::string& version, long long payloadSize) {
    PackageSpec spec;
    spec.modelList = ss_text_utf8ToGbk(models);
    spec.version = ss_text_utf8ToGbk(version);
    spec.payloadSize = payloadSize;
    std::string path = folder + "/" + utf8FileName;
    if (payloadSize > 16 * 1024 * 1024) {
        if (makeLargePackageFile(path, spec) != 0) return {};
    } else if (makePackageFile(path, spec) != 0) {
        return {};
    }
    return path;
}

FlowRig::FlowRig(const SimConfig& config, std::FILE* progress, bool stages) : ui(progress) {
    site = std::make_unique<SimSite>(config);
    if (site->open(error) != 0 || site->start() != 0) return;
    flow = std::make_unique<UpgradeFlow>(ui);
    ui.attach(flow.get());
    // "No" to the version prompt and the first-failure question; "取消" and closing during a run are meant
    // ("升级正在进行，确定…？").
    ui.answer = [](const ShownBox& box) {
        if (!asksYesNo(box.buttons)) return IDOK;
        return box.text == flowtext::kConfirmCancel || box.text == flowtext::kConfirmClose ? IDYES : IDNO;
    };
    ok = flow->OnInitDialog();
    if (ok) flow->setStages(stages);
}

FlowRig::~FlowRig() {
    if (flow) flow->OnDestroy();
    flow.reset();
    if (site) site->stop();
}

bool FlowRig::query(const std::string& packagePath, const std::string& addressBoxIp,
                    const std::vector<std::string>& models, bool showFailed) {
    if (flow->loadPackageFile(packagePath) != 0) return false;
    if (!models.empty()) {
        std::set<std::string> wanted(models.begin(), models.end());
        for (auto& box : flow->state().modelBoxes) box.checked = wanted.count(box.utf8Label) > 0;
    }
    flow->setAddressBoxIp(addressBoxIp);
    flow->state().setChecked(IDC_SHOW_FAILED, showFailed);
    size_t mark = ui.boxes.size();
    flow->OnBnClickedButtonQuery();
    return !ui.errorSince(mark);
}

void FlowRig::upgradeAndWait() {
    flow->clearRunEnded();
    size_t mark = ui.boxes.size();
    flow->OnBnClickedOk();
    if (ui.errorSince(mark)) return;
    ui.serveUntil([&] { return flow->runFinished(); });
}

int FlowRig::rowOf(const std::string& ip) const {
    DeviceList& list = flow->list();
    for (int row = 0; row < list.RowCount(); ++row)
        if (list.GetItemText(row, DEVICE_COLUMN_IP) == ip) return row;
    return -1;
}

std::string FlowRig::status(const std::string& ip) const {
    return cell(ip, DEVICE_COLUMN_STATUS);
}

std::string FlowRig::cell(const std::string& ip, int column) const {
    int row = rowOf(ip);
    return row < 0 ? std::string("<no row>") : flow->list().GetItemText(row, column);
}

bool FlowRig::checked(const std::string& ip) const {
    int row = rowOf(ip);
    return row >= 0 && flow->list().GetCheck(row);
}

}  // namespace engine_test
