// The checks of loading a package chosen by the operator, free of any toolkit: the window and the
// command line call them in this order around their own steps (file dialog, same-path test,
// clearing the device list):
//   packageExtensionIsQuenta  -> on false ask kPackageExtensionWarning (yes/no, "警告")
//   packagePrecheck           -> readable, at least 2048 bytes
//   (the caller clears the previous model list, the device list and the IP list)
//   packageRead               -> trailer and digest, version, kind, platform code
//   applyPackageKindRules     -> multimedia file package: model list "ALL", single-IP mode only
// Messages are UTF-8 texts for an error box titled kPackageErrorTitle with the stop icon.
#pragma once

#include <string>

// Texts of the load, byte for byte as the window shows them (UTF-8).
inline constexpr char kPackageErrorTitle[] = "错误提示";
inline constexpr char kPackageWarningTitle[] = "警告";
inline constexpr char kPackageExtensionWarning[] =
    "昆塔升级文件扩展名默认为.quenta，您确信要用该文件升级吗？";
inline constexpr char kPackageUnreadableMessage[] = "非法文件，该文件不可读！";
inline constexpr char kPackageTooSmallMessage[] = "文件太小，不大可能是升级包！";
inline constexpr char kPackageInvalidMessage[] = "非法升级包，不能获取适用型号信息!";
inline constexpr char kPackageNoVersionMessage[] = "不能获得版本信息!";
inline constexpr char kMultimediaFilePackageNotice[] =
    "多媒体文件包不支持批量升级，只能指定IP升级";  // title "提示"
inline constexpr int kPackageMinimumSize = 2048;
inline constexpr int kPackageNarrowPathMax = 259;  // bytes in GBK, without the terminator

struct LoadedPackage {
    std::string narrowPath;      // GBK full path (<= 259 bytes): the path uploads open and send
    std::string narrowFileName;  // GBK file name (after the last "\" or "/")
    std::string modelList;       // GBK: "ALL" or comma-separated models
    std::string version;         // GBK package version, may be empty
    int kind = 0;                // PackageKind
    int platformCode = 0;        // 0, 1, 2, 5 or 6
    // Additions beyond the loaded-package record, for the command line and tests:
    std::string localPath;        // the path as the file system holds it (what the checks opened)
    bool digestVerified = false;  // the trailer carried a digest and it matched
};

// Step 2: true when the text after the last "." of the path is exactly "quenta" (case-sensitive).
bool packageExtensionIsQuenta(const std::string& utf8Path);

// Steps 4-5: 0 when the file opens for reading and holds at least 2048 bytes; otherwise -1 with
// kPackageUnreadableMessage or kPackageTooSmallMessage in utf8Message.
int packagePrecheck(const std::string& utf8Path, std::string& utf8Message);

// Steps 7-9: 0 with `out` filled; -1 with the message (out unchanged): a path that has no GBK form of
// at most 259 bytes gets kPackageUnreadableMessage, a trailer or digest failure kPackageInvalidMessage,
// a file name without version kPackageNoVersionMessage.
// utf8Path is the path as the file system holds it. On this platform a file name that is not valid
// UTF-8 is taken to be GBK already (a name copied from a Windows archive), and opened unchanged.
int packageRead(const std::string& utf8Path, LoadedPackage& out, std::string& utf8Message);

// Step 10's package-side rule: a multimedia file package gets the model list "ALL". Returns true
// when the package may only be sent to single addresses (the caller shows
// kMultimediaFilePackageNotice, switches to single-IP mode and disables batch mode).
bool applyPackageKindRules(LoadedPackage& package);

// Step 9's label: "该升级包版本为" + version + "，适合于以下产品" (UTF-8).
std::string packageVersionLabel(const LoadedPackage& package);
