// Configuration of the simulated site: the address box and the devices that quenta-sim plays, with
// the fault each device shows. Read from the JSON file described in sim/README.md, or built in code
// by tests. Also the address rules the site keeps: the tool owns x.x.x.1, the site never binds it,
// nor a network or broadcast address, and only loopback outside a private network namespace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How an answer text travels: plain, or as a marked text (XOR or DES form).
enum class SimAnswerForm { Plain, Xor, Des };

// Junk datagrams sent to the requester: none, before the real answer, or instead of it.
enum class SimGarbage { None, Before, Instead };

// Faults of one peer. Several may be combined.
struct SimFaults {
    bool silent = false;        // never answers a datagram (the TCP service is never opened either)
    int delayMs = 0;            // every UDP answer leaves this many ms after the request
    bool answerTwice = false;   // every UDP answer is sent twice
    bool noTcpSupport = false;  // "TcpSupport: 0" in GetSystemInfoOK and StartUploadServiceOK
    bool portZero = false;      // StartUploadServiceOK carries "Port: 0" (no service is opened)
    // StartUploadServiceOK names this port instead of the service's own (say 70000, 0 or -1); the
    // service is opened on the port the number wraps to as a 16-bit value, when that is 1..65535.
    std::optional<int> uploadPort;
    std::optional<std::string> tcpErrorText;  // the put is answered 255 with this text (GBK)
    std::optional<int> tcpReplyCode;          // the put is answered with this integer (e.g. 7)
    // The put is answered 255 declaring this length; the text (tcpErrorText or "写入失败") is padded
    // with 'x' up to it, written as the connection takes it (e.g. 2147483647).
    std::optional<int> tcpErrorLength;
    int replyTrickleMs = 0;        // the put's reply goes out one byte every this many ms
    bool closeHalfway = false;     // the service closes the connection after half the content
    bool noSerialNum = false;      // GetSystemInfoOK without "SerialNum"
    int rebootDownMs = 0;          // after a Reboot no datagram is answered for this long
    bool staysDown = false;        // after a Reboot no datagram is ever answered again
    bool bootsOldVersion = false;  // after a Reboot the device keeps the version it had
    bool failFirstPut = false;     // the first put is refused (255, tcpErrorText or a text)
    SimGarbage garbage = SimGarbage::None;
    // Fraction (0 to 1) of datagrams lost in each direction, received and sent alike; absent: the
    // site's loss. Which ones are lost follows from SimConfig::lossSeed.
    std::optional<double> loss;
};

// What a bad package does to a device after its reboot.
enum class SimAfterBadPackage {
    neverBack,    // never answers again
    oldVersion,   // the old image boots: back at once with the version it had
    longSilence,  // silent for silenceMs, then back with the new version
};
// A package that is bad for one model: for a share of that model's devices (all by default), what
// happens after the reboot that follows an accepted upload (of one version, or of any).
struct SimBadPackage {
    std::string model;  // GBK, exact
    SimAfterBadPackage after = SimAfterBadPackage::neverBack;
    int silenceMs = 600000;
    // Of the model's devices in site order, device i (from 0) is hit when floor((i+1)·share) grows
    // past floor(i·share): 1 hits all, 2/3 hits the 2nd, 3rd, 5th, 6th, … (the first stays good).
    double share = 1;
    std::optional<std::string> version;  // GBK; only uploads whose payload carries this version
};

// One peer: a device, or the address box (a device with the box's role on UDP 5160 too).
struct SimDeviceConfig {
    std::string ip;             // dotted IPv4; unique within the site
    std::string model;          // GBK, like every text below
    std::string platform;       // empty: no "Platform" key
    std::optional<int> master;  // absent: no "Master" key
    std::optional<int> slave;   // absent: no "Slave" key
    std::string hardVersion;
    std::string kernelVersion;
    std::string softVersion;
    std::string serialNum;
    bool tcpSupport = true;
    std::string uploadPath = "C:\\Work/quenta/upload/QN_UPGRADE/upgrade.bin";
    SimAnswerForm systemInfoForm = SimAnswerForm::Plain;  // form of GetSystemInfoOK
    SimAnswerForm answerForm = SimAnswerForm::Plain;      // form of StartUploadServiceOK and RebootOK
    bool upperCaseHex = false;  // marked answers write their hex digits in upper case (marker unchanged)
    // SoftVersion after a Reboot when the received payload carries no version text; absent: the
    // version stays as it was unless a payload said otherwise.
    std::optional<std::string> versionAfterReboot;
    bool listed = true;  // the address box lists this device (when its model is asked for)
    // The "IP" of its GetSystemInfoOK instead of `ip`, sent as it is (a hostile device: a name,
    // "192.0.2.267", "127.0.0.1", another device's address ...). Absent: `ip`.
    std::optional<std::string> reportedIp;
    SimFaults faults;
    std::optional<SimBadPackage> badPackage;  // set by simAssignBadPackages
};

struct SimAddressBoxConfig {
    SimDeviceConfig device;            // its own system information (serial number of a box type)
    int maxAddressesPerDatagram = 50;  // addresses per UpdateIPAddress datagram (at least 1)
    // Addresses listed for every request besides the matching devices (addresses where no device
    // answers); each with the model it is listed under ("*" = every request). The text is listed as
    // it is, whatever it holds (a hostile box: names, "192.0.2.010", multicast, 127.0.0.1 ...).
    struct Phantom {
        std::string ip;
        std::string model = "*";
    };
    std::vector<Phantom> phantoms;
    SimFaults listFaults;  // faults of the UDP 5160 service (silent, delay, twice, garbage)
};

struct SimConfig {
    std::optional<SimAddressBoxConfig> addressBox;
    std::vector<SimDeviceConfig> devices;
    double loss = 0;        // datagram loss of every peer without a loss fault of its own
    uint64_t lossSeed = 1;  // the same seed loses the same datagrams of each peer, run after run
    std::vector<SimBadPackage> badPackages;  // "badPackages"; applied to devices by simAssignBadPackages
};

// Gives each device hit by one of config.badPackages its behaviour (the last matching entry wins).
// Parsing does it; configurations built in code call it after filling badPackages.
void simAssignBadPackages(SimConfig& config);

// Parses a site configuration (format in sim/README.md); entries with "count" are expanded to that
// many devices on consecutive site addresses. 0, or -1 with a message in `error`.
int simConfigFromJson(std::string_view json, SimConfig& out, std::string& error);
// Reads and parses a configuration file (local path). 0 or -1 with `error`.
int simConfigLoad(const std::string& path, SimConfig& out, std::string& error);

// The site's address sequence inside a private namespace: 192.0.2.2 .. 192.0.2.254, then
// 198.51.100.2 .. .254, then 203.0.113.2 .. .254 (759 addresses); absent past the end.
std::optional<std::string> simSiteAddress(int index);
inline constexpr int kSimSiteAddressCount = 3 * 253;
// The address after `ip` in that sequence (absent at the end or for an address outside it).
std::optional<std::string> simNextSiteAddress(const std::string& ip);

// True when the current network namespace holds no interface but "lo" (asked of the kernel with
// if_nameindex, which answers for the namespace; /sys/class/net may show another one).
bool simInPrivateNamespace();
// For programs that need the documentation addresses (benchmarks): unless already in a private
// namespace, re-runs the program (argv as given) through sim/netns-run with `addresses` site
// addresses, each on a link of `linkRate` (tc's form, e.g. "100mbit") when given. Returns only when
// already inside; exits with 1 when the runner cannot be started.
void simReexecInPrivateNamespace(char** argv, int addresses, const char* linkRate = nullptr);
// May the site bind this address? Refused: invalid text, a .0/.255 address, x.x.x.1 of a
// documentation range and 127.0.0.1 (the tool's source addresses), and any address outside
// 127.0.0.0/8 unless the process runs in a private namespace with only lo. 0, or -1 with `error`.
int simCheckBindAddress(const std::string& ip, std::string& error);

// Text conversions between the configuration/record (UTF-8) and the wire (GBK). False when the
// input is not valid in its encoding (out then holds what could be converted).
bool simUtf8ToGbk(std::string_view utf8, std::string& gbk);
bool simGbkToUtf8(std::string_view gbk, std::string& utf8);
