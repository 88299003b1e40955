// Configuration of the simulated site: JSON parsing, the address sequence and the bind rules.
#include "sim/sim_config.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <net/if.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using Value = nlohmann::ordered_json;

// The member `key` of an object; null when absent (or when `v` is no object).
const Value* member(const Value& v, const char* key) {
    if (!v.is_object()) return nullptr;
    auto found = v.find(key);
    return found == v.end() ? nullptr : &*found;
}

const char* const kPrefixes[] = {"192.0.2.", "198.51.100.", "203.0.113."};

bool convert(const char* to, const char* from, std::string_view in, std::string& out) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(in);
    char* inPtr = input.data();
    size_t inLeft = input.size();
    bool ok = true;
    std::string buffer(4096, '\0');
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (result == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

// Reads the fields of one JSON object into a device; `strict` refuses unknown keys.
class DeviceReader {
  public:
    std::string error;

    bool readFaults(const Value& v, SimFaults& f, const std::string& where) {
        if (!v.is_object()) return fail(where + ": \"faults\" must be an object");
        for (auto it = v.begin(); it != v.end(); ++it) {
            const std::string& key = it.key();
            const Value& value = it.value();
            const std::string at = where + ": faults." + key;
            if (key == "silent") {
                if (!boolean(value, f.silent, at)) return false;
            } else if (key == "delayMs") {
                if (!integer(value, f.delayMs, 0, 600000, at)) return false;
            } else if (key == "answerTwice") {
                if (!boolean(value, f.answerTwice, at)) return false;
            } else if (key == "noTcpSupport") {
                if (!boolean(value, f.noTcpSupport, at)) return false;
            } else if (key == "portZero") {
                if (!boolean(value, f.portZero, at)) return false;
            } else if (key == "uploadPort") {
                int port = 0;
                if (!integer(value, port, INT32_MIN, INT32_MAX, at)) return false;
                f.uploadPort = port;
            } else if (key == "tcpErrorLength") {
                int length = 0;
                if (!integer(value, length, 0, INT32_MAX, at)) return false;
                f.tcpErrorLength = length;
            } else if (key == "replyTrickleMs") {
                if (!integer(value, f.replyTrickleMs, 1, 600000, at)) return false;
            } else if (key == "tcpErrorText") {
                std::string text;
                if (!gbkText(value, text, at)) return false;
                f.tcpErrorText = text;
            } else if (key == "tcpReplyCode") {
                int code = 0;
                if (!integer(value, code, INT32_MIN, INT32_MAX, at)) return false;
                f.tcpReplyCode = code;
            } else if (key == "closeHalfway") {
                if (!boolean(value, f.closeHalfway, at)) return false;
            } else if (key == "noSerialNum") {
                if (!boolean(value, f.noSerialNum, at)) return false;
            } else if (key == "rebootDownMs") {
                if (!integer(value, f.rebootDownMs, 0, 600000, at)) return false;
            } else if (key == "staysDown") {
                if (!boolean(value, f.staysDown, at)) return false;
            } else if (key == "bootsOldVersion") {
                if (!boolean(value, f.bootsOldVersion, at)) return false;
            } else if (key == "failFirstPut") {
                if (!boolean(value, f.failFirstPut, at)) return false;
            } else if (key == "loss") {
                double loss = 0;
                if (!fraction(value, loss, at)) return false;
                f.loss = loss;
            } else if (key == "garbage") {
                std::string g;
                if (!value.is_string()) return fail(at + " must be \"none\", \"before\" or \"instead\"");
                g = value.get<std::string>();
                if (g == "none")
                    f.garbage = SimGarbage::None;
                else if (g == "before")
                    f.garbage = SimGarbage::Before;
                else if (g == "instead")
                    f.garbage = SimGarbage::Instead;
                else
                    return fail(at + " must be \"none\", \"before\" or \"instead\"");
            } else {
                return fail(at + ": unknown fault");
            }
        }
        return true;
    }

    // Applies the members of `v` to `d`; `extra` names members the caller handles itself.
    bool readDevice(const Value& v, SimDeviceConfig& d, const std::string& where,
                    const std::set<std::string>& extra) {
        if (!v.is_object()) return fail(where + " must be an object");
        for (auto it = v.begin(); it != v.end(); ++it) {
            const std::string& key = it.key();
            const Value& value = it.value();
            const std::string at = where + "." + key;
            if (extra.count(key) != 0) continue;
            if (key == "ip") {
                if (!value.is_string()) return fail(at + " must be a text");
                d.ip = value.get<std::string>();
            } else if (key == "model") {
                if (!gbkText(value, d.model, at)) return false;
            } else if (key == "platform") {
                if (!gbkText(value, d.platform, at)) return false;
            } else if (key == "master" || key == "slave") {
                std::optional<int>& field = key == "master" ? d.master : d.slave;
                if (value.is_null()) {
                    field.reset();
                } else {
                    int n = 0;
                    if (!integer(value, n, INT32_MIN, INT32_MAX, at)) return false;
                    field = n;
                }
            } else if (key == "hardVersion") {
                if (!gbkText(value, d.hardVersion, at)) return false;
            } else if (key == "kernelVersion") {
                if (!gbkText(value, d.kernelVersion, at)) return false;
            } else if (key == "softVersion") {
                if (!gbkText(value, d.softVersion, at)) return false;
            } else if (key == "serialNum") {
                if (!gbkText(value, d.serialNum, at)) return false;
            } else if (key == "tcpSupport") {
                if (!boolean(value, d.tcpSupport, at)) return false;
            } else if (key == "uploadPath") {
                if (!gbkText(value, d.uploadPath, at)) return false;
            } else if (key == "systemInfoForm") {
                if (!form(value, d.systemInfoForm, at)) return false;
            } else if (key == "answerForm") {
                if (!form(value, d.answerForm, at)) return false;
            } else if (key == "upperCaseHex") {
                if (!boolean(value, d.upperCaseHex, at)) return false;
            } else if (key == "versionAfterReboot") {
                if (value.is_null()) {
                    d.versionAfterReboot.reset();
                } else {
                    std::string text;
                    if (!gbkText(value, text, at)) return false;
                    d.versionAfterReboot = text;
                }
            } else if (key == "reportedIp") {
                if (value.is_null()) {
                    d.reportedIp.reset();
                } else {
                    if (!value.is_string()) return fail(at + " must be a text or null");
                    d.reportedIp = value.get<std::string>();
                }
            } else if (key == "listed") {
                if (!boolean(value, d.listed, at)) return false;
            } else if (key == "faults") {
                if (!readFaults(value, d.faults, where)) return false;
            } else {
                return fail(at + ": unknown member");
            }
        }
        return true;
    }

    bool fail(const std::string& why) {
        if (error.empty()) error = why;
        return false;
    }
    bool boolean(const Value& v, bool& out, const std::string& at) {
        if (!v.is_boolean()) return fail(at + " must be true or false");
        out = v.get<bool>();
        return true;
    }
    bool integer(const Value& v, int& out, int64_t low, int64_t high, const std::string& at) {
        std::optional<int64_t> n;
        if (v.is_number_unsigned()) {
            if (v.get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX))
                n = static_cast<int64_t>(v.get<uint64_t>());
        } else if (v.is_number_integer()) {
            n = v.get<int64_t>();
        }
        if (!n || *n < low || *n > high)
            return fail(at + " must be an integer from " + std::to_string(low) + " to " +
                        std::to_string(high));
        out = static_cast<int>(*n);
        return true;
    }
    bool fraction(const Value& v, double& out, const std::string& at) {
        if (!v.is_number() || !(v.get<double>() >= 0 && v.get<double>() <= 1))
            return fail(at + " must be a number from 0 to 1");
        out = v.get<double>();
        return true;
    }
    bool gbkText(const Value& v, std::string& out, const std::string& at) {
        if (!v.is_string()) return fail(at + " must be a text");
        if (!simUtf8ToGbk(v.get_ref<const std::string&>(), out))
            return fail(at + " cannot be written in GBK");
        return true;
    }
    bool form(const Value& v, SimAnswerForm& out, const std::string& at) {
        if (v == "plain")
            out = SimAnswerForm::Plain;
        else if (v == "xor")
            out = SimAnswerForm::Xor;
        else if (v == "des")
            out = SimAnswerForm::Des;
        else
            return fail(at + " must be \"plain\", \"xor\" or \"des\"");
        return true;
    }
};

// Replaces "{n}" in a text with the 4-digit index (from 1) of a device within its group.
std::string numbered(const std::string& text, int index) {
    std::string out = text;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", index);
    for (size_t at = out.find("{n}"); at != std::string::npos; at = out.find("{n}", at + 1))
        out.replace(at, 3, digits);
    return out;
}

}  // namespace

bool simUtf8ToGbk(std::string_view utf8, std::string& gbk) {
    return convert("GBK", "UTF-8", utf8, gbk);
}
bool simGbkToUtf8(std::string_view gbk, std::string& utf8) {
    return convert("UTF-8", "GBK", gbk, utf8);
}

std::optional<std::string> simSiteAddress(int index) {
    if (index < 0 || index >= kSimSiteAddressCount) return std::nullopt;
    return std::string(kPrefixes[index / 253]) + std::to_string(2 + index % 253);
}

std::optional<std::string> simNextSiteAddress(const std::string& ip) {
    for (int p = 0; p < 3; ++p) {
        std::string prefix = kPrefixes[p];
        if (ip.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = ip.substr(prefix.size());
        if (rest.empty() || rest.size() > 3 || rest.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        int host = std::stoi(rest);
        if (host < 2 || host > 254) return std::nullopt;
        return simSiteAddress(p * 253 + host - 2 + 1);
    }
    return std::nullopt;
}

bool simInPrivateNamespace() {
    struct if_nameindex* names = if_nameindex();
    if (names == nullptr) return false;
    bool onlyLo = true;
    for (struct if_nameindex* n = names; n->if_index != 0 || n->if_name != nullptr; ++n) {
        if (n->if_name == nullptr) break;
        if (std::strcmp(n->if_name, "lo") != 0) onlyLo = false;
    }
    if_freenameindex(names);
    return onlyLo;
}

void simReexecInPrivateNamespace(char** argv, int addresses, const char* linkRate) {
    if (simInPrivateNamespace()) return;
    // The sources' own copy: $QUENTA_SOURCE_DIR/sim/netns-run, else the path CMake compiled in
    // (__FILE__ may be relative to the build folder, e.g. under ccache's base_dir).
    const char* sourceDir = std::getenv("QUENTA_SOURCE_DIR");
    std::string runner = sourceDir != nullptr && *sourceDir != '\0'
                             ? std::string(sourceDir) + "/sim/netns-run"
                             : std::string(QUENTA_NETNS_RUN);
    std::string count = std::to_string(addresses);
    std::vector<char*> args{runner.data(), const_cast<char*>("--addresses"), count.data()};
    if (linkRate != nullptr) {
        args.push_back(const_cast<char*>("--link-rate"));
        args.push_back(const_cast<char*>(linkRate));
    }
    args.push_back(const_cast<char*>("--"));
    for (char** a = argv; *a != nullptr; ++a) args.push_back(*a);
    args.push_back(nullptr);
    execv(runner.c_str(), args.data());
    std::perror("netns-run");
    std::exit(1);
}

int simCheckBindAddress(const std::string& ip, std::string& error) {
    in_addr address{};
    if (inet_pton(AF_INET, ip.c_str(), &address) != 1) {
        error = "not an IPv4 address: \"" + ip + "\"";
        return -1;
    }
    const uint32_t host = ntohl(address.s_addr);
    const uint32_t last = host & 0xFF;
    if (last == 0 || last == 255) {
        error = ip + " is a network or broadcast address";
        return -1;
    }
    if (ip == "127.0.0.1" || ip == "192.0.2.1" || ip == "198.51.100.1" || ip == "203.0.113.1" ||
        ip == "198.18.0.1") {
        error = ip + " is the tool's own address; the site never binds it";
        return -1;
    }
    if ((host >> 24) == 127) return 0;
    if (!simInPrivateNamespace()) {
        error = "refusing to bind " + ip +
                ": outside 127.0.0.0/8 the site runs only in a private network namespace with only lo "
                "(use sim/netns-run)";
        return -1;
    }
    return 0;
}

namespace {

// The addresses the site's peers have taken so far, and the last one (devices without an address
// take the next free one after it).
struct SiteAddresses {
    std::set<std::string> used;
    std::optional<std::string> lastIp;

    bool claim(const std::string& ip, const std::string& where, DeviceReader& reader) {
        if (!used.insert(ip).second) return reader.fail(where + ": address " + ip + " is used twice");
        lastIp = ip;
        return true;
    }
    // The first free address after the last one taken (or from the start).
    std::optional<std::string> nextFree() const {
        std::optional<std::string> next = lastIp ? simNextSiteAddress(*lastIp) : simSiteAddress(0);
        while (next && used.count(*next) != 0) next = simNextSiteAddress(*next);
        return next;
    }
};

bool checkSiteMembers(const Value& root, DeviceReader& reader) {
    for (auto it = root.begin(); it != root.end(); ++it) {
        const std::string& key = it.key();
        if (key != "addressBox" && key != "defaults" && key != "devices" && key != "comment" &&
            key != "loss" && key != "lossSeed" && key != "badPackages")
            return reader.fail("unknown member \"" + key + "\"");
    }
    return true;
}

bool readLoss(const Value& root, SimConfig& out, DeviceReader& reader) {
    if (const Value* loss = member(root, "loss"); loss && !reader.fraction(*loss, out.loss, "loss"))
        return false;
    if (const Value* seed = member(root, "lossSeed")) {
        if (!seed->is_number_integer() || (!seed->is_number_unsigned() && seed->get<int64_t>() < 0))
            return reader.fail("lossSeed must be a non-negative integer");
        out.lossSeed = seed->get<uint64_t>();
    }
    return true;
}

// One entry of "phantoms": an address, or {"ip", "model"}.
bool readPhantom(const Value& p, const std::string& where, SimAddressBoxConfig::Phantom& phantom,
                 DeviceReader& reader) {
    if (p.is_string()) {
        phantom.ip = p.get<std::string>();
        return true;
    }
    if (!p.is_object() || member(p, "ip") == nullptr || !member(p, "ip")->is_string())
        return reader.fail(where + ": each entry is an address or {\"ip\", \"model\"}");
    for (auto it = p.begin(); it != p.end(); ++it) {
        if (it.key() == "ip" || it.key() == "comment") continue;
        if (it.key() != "model") return reader.fail(where + "." + it.key() + ": unknown member");
        if (!reader.gbkText(it.value(), phantom.model, where + ".model")) return false;
    }
    phantom.ip = member(p, "ip")->get<std::string>();
    return true;
}

bool readPhantoms(const Value& ph, SimAddressBoxConfig& config, DeviceReader& reader) {
    if (!ph.is_array()) return reader.fail("addressBox.phantoms must be an array");
    for (size_t i = 0; i < ph.size(); ++i) {
        SimAddressBoxConfig::Phantom phantom;
        if (!readPhantom(ph[i], "addressBox.phantoms[" + std::to_string(i) + "]", phantom, reader))
            return false;
        config.phantoms.push_back(phantom);
    }
    return true;
}

bool readAddressBox(const Value& box, const SimDeviceConfig& defaults, SimConfig& out,
                    SiteAddresses& addresses, DeviceReader& reader) {
    SimAddressBoxConfig config;
    config.device = defaults;
    if (!reader.readDevice(box, config.device, "addressBox",
                           {"maxAddressesPerDatagram", "phantoms", "listFaults", "comment"}))
        return false;
    if (const Value* m = member(box, "maxAddressesPerDatagram");
        m &&
        !reader.integer(*m, config.maxAddressesPerDatagram, 1, 350, "addressBox.maxAddressesPerDatagram"))
        return false;
    if (const Value* lf = member(box, "listFaults");
        lf && !reader.readFaults(*lf, config.listFaults, "addressBox.listFaults"))
        return false;
    if (const Value* ph = member(box, "phantoms"); ph && !readPhantoms(*ph, config, reader)) return false;
    if (config.device.ip.empty()) config.device.ip = *simSiteAddress(0);
    if (!addresses.claim(config.device.ip, "addressBox", reader)) return false;
    out.addressBox = config;
    return true;
}

// One entry of "devices": `count` devices (default 1) from its address, or from the next free one.
bool readDeviceEntry(const Value& entry, const std::string& where, const SimDeviceConfig& defaults,
                     SimConfig& out, SiteAddresses& addresses, DeviceReader& reader) {
    SimDeviceConfig device = defaults;
    device.ip.clear();
    if (!reader.readDevice(entry, device, where, {"count", "comment"})) return false;
    int count = 1;
    if (const Value* c = member(entry, "count");
        c && !reader.integer(*c, count, 1, kSimSiteAddressCount, where + ".count"))
        return false;
    std::string ip = device.ip;
    for (int n = 1; n <= count; ++n) {
        if (ip.empty()) {
            std::optional<std::string> next = addresses.nextFree();
            if (!next) return reader.fail(where + ": no free site address left");
            ip = *next;
        }
        SimDeviceConfig one = device;
        one.ip = ip;
        one.serialNum = numbered(device.serialNum, n);
        one.model = numbered(device.model, n);
        if (!addresses.claim(ip, where, reader)) return false;
        out.devices.push_back(one);
        ip.clear();
        if (n < count) {
            std::optional<std::string> next = simNextSiteAddress(one.ip);
            if (!next) return reader.fail(where + ": the addresses run out after " + one.ip);
            ip = *next;
        }
    }
    return true;
}

// "badPackages": [{"model", "after", "silenceMs", "share", "version"}, ...]
bool readBadPackages(const Value& list, SimConfig& out, DeviceReader& reader) {
    if (!list.is_array()) return reader.fail("\"badPackages\" must be an array");
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string where = "badPackages[" + std::to_string(i) + "]";
        const Value& entry = list[i];
        if (!entry.is_object() || member(entry, "model") == nullptr)
            return reader.fail(where + " must be an object with a \"model\"");
        SimBadPackage bad;
        for (auto it = entry.begin(); it != entry.end(); ++it) {
            const std::string& key = it.key();
            const Value& value = it.value();
            const std::string at = where + "." + key;
            if (key == "model") {
                if (!reader.gbkText(value, bad.model, at)) return false;
            } else if (key == "after") {
                if (value == "neverBack")
                    bad.after = SimAfterBadPackage::neverBack;
                else if (value == "oldVersion")
                    bad.after = SimAfterBadPackage::oldVersion;
                else if (value == "longSilence")
                    bad.after = SimAfterBadPackage::longSilence;
                else
                    return reader.fail(at + " must be \"neverBack\", \"oldVersion\" or \"longSilence\"");
            } else if (key == "silenceMs") {
                if (!reader.integer(value, bad.silenceMs, 0, 86400000, at)) return false;
            } else if (key == "share") {
                if (!reader.fraction(value, bad.share, at)) return false;
            } else if (key == "version") {
                std::string text;
                if (!reader.gbkText(value, text, at)) return false;
                bad.version = text;
            } else if (key != "comment") {
                return reader.fail(at + ": unknown member");
            }
        }
        out.badPackages.push_back(bad);
    }
    return true;
}

// Reads a parsed configuration into `out`; false with `reader.error` on the first fault.
bool readSite(const Value& root, SimConfig& out, DeviceReader& reader) {
    if (!root.is_object()) return reader.fail("the configuration must be a JSON object");
    if (!checkSiteMembers(root, reader) || !readLoss(root, out, reader)) return false;
    SimDeviceConfig defaults;
    if (const Value* d = member(root, "defaults");
        d && !reader.readDevice(*d, defaults, "defaults", {"comment"}))
        return false;
    SiteAddresses addresses;
    if (const Value* box = member(root, "addressBox");
        box != nullptr && !box->is_null() && !readAddressBox(*box, defaults, out, addresses, reader))
        return false;
    if (const Value* bad = member(root, "badPackages"); bad && !readBadPackages(*bad, out, reader))
        return false;
    const Value* devices = member(root, "devices");
    if (devices == nullptr) return true;
    if (!devices->is_array()) return reader.fail("\"devices\" must be an array");
    for (size_t i = 0; i < devices->size(); ++i)
        if (!readDeviceEntry((*devices)[i], "devices[" + std::to_string(i) + "]", defaults, out, addresses,
                             reader))
            return false;
    return true;
}

}  // namespace

int simConfigFromJson(std::string_view json, SimConfig& out, std::string& error) {
    out = SimConfig{};
    Value root;
    try {
        root = Value::parse(json.begin(), json.end());
    } catch (const Value::exception& e) {  // parse_error, or out_of_range for a number like 1e999
        // "[json.exception.parse_error.101] parse error at line 1, column 14: syntax error ..." gives
        // "line 1, column 14: syntax error ..."; the others lose their "[json.exception.…] " only.
        const std::string what = e.what();
        const size_t line = what.find("line "), tag = what.find("] ");
        error = line != std::string::npos  ? what.substr(line)
                : tag != std::string::npos ? what.substr(tag + 2)
                                           : what;
        return -1;
    }
    DeviceReader reader;
    if (!readSite(root, out, reader)) {
        error = reader.error;
        out = SimConfig{};
        return -1;
    }
    simAssignBadPackages(out);
    return 0;
}

void simAssignBadPackages(SimConfig& config) {
    for (const SimBadPackage& bad : config.badPackages) {
        int index = 0;
        for (SimDeviceConfig& device : config.devices) {
            if (device.model != bad.model) continue;
            const auto before = static_cast<long long>(std::floor(index * bad.share + 1e-9));
            const auto after = static_cast<long long>(std::floor((index + 1) * bad.share + 1e-9));
            if (after > before) device.badPackage = bad;
            ++index;
        }
    }
}

int simConfigLoad(const std::string& path, SimConfig& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (simConfigFromJson(text, out, error) != 0) {
        error = path + ": " + error;
        return -1;
    }
    return 0;
}
