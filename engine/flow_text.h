// The texts the batch flow shows the operator (UTF-8, byte for byte): box titles, messages, captions
// and progress lines. Front ends show them and never write their own.
#pragma once

namespace flowtext {
inline constexpr char kErrorTitle[] = "错误提示";
inline constexpr char kInfoTitle[] = "信息提示";
inline constexpr char kNoticeTitle[] = "提示";
inline constexpr char kAskTitle[] = "信息";
inline constexpr char kServerStartFailed[] = "不能启动产品升级服务，系统将退出";
inline constexpr char kNoModel[] = "至少一个型号必须选择！";
inline constexpr char kNoAddressBox[] = "请先输入地址盒IP";
inline constexpr char kNoPackage[] = "请先选择升级文件";
inline constexpr char kBadAddressBox[] = "非法地址盒IP";
inline constexpr char kAddressBoxSilent[] = "不能从指定的地址盒IP获得系统信息，或许它的软件版本太老！";
inline constexpr char kAddressBoxNoAnswer[] = "地址盒无应答，请检查IP地址和网络连接";
inline constexpr char kNotAddressBox[] = "IP地址%s的设备型号是%s，不是地址盒类设备，不能用于批量升级!";
inline constexpr char kListEmpty[] = "升级IP列表为空，请点击<获取设备列表>";
inline constexpr char kNoneTicked[] = "请选择要升级的IP！";
inline constexpr char kNoSingleIp[] = "请先输入要升级设备的IP地址";
inline constexpr char kBadSingleIp[] = "非法IP地址";
inline constexpr char kUpgradeDone[] = "升级完成！";
inline constexpr char kUpgradeCancelled[] = "升级已取消";
inline constexpr char kConfirmClearResults[] = "设备列表中有升级结果，确定清空吗？";
inline constexpr char kConfirmCancel[] = "升级正在进行，确定取消吗？";
inline constexpr char kConfirmClose[] = "升级正在进行，确定退出吗？";
inline constexpr char kNoVersionDiff[] = "没有发现需要升级的设备";
inline constexpr char kVersionDiffAsk[] = "共发现%d个不同版本的设备可以升级, 现在立即升级吗？";
inline constexpr char kProgressQuery[] = "正在测试连接，请稍后...";
inline constexpr char kProgressFailed[] = "正在处理连接失败的设备，请稍后...";
inline constexpr char kProgressCancel[] = "正在取消，请等待当前文件传输完成...";
inline constexpr char kProgressAddressBox[] = "正在连接地址盒，请稍后...";
inline constexpr char kProgressAddDevice[] = "正在连接设备，请稍后...";
inline constexpr char kCaptionUpgrade[] = "升级";
inline constexpr char kCaptionCancel[] = "取消";
inline constexpr char kVerifyCaption[] = "升级后验证版本";
inline constexpr char kRetryFailed[] = "重试失败的设备";
inline constexpr char kRetrySelected[] = "重试选中的设备";
// Before a retry of the failed devices that leaves some out.
inline constexpr char kRetryLeftOut[] = "重试%d台设备；%d台设备需要现场处理（见状态提示），未重试";
inline constexpr char kRecoverUnanswered[] = "重新连接失败的设备";
inline constexpr char kExportReport[] = "导出报告...";
inline constexpr char kProgressRecover[] = "正在重新连接失败的设备，请稍后...";
inline constexpr char kRecoverDone[] = "重新连接完成：找回%d台设备，仍有%d台设备没有应答";
inline constexpr char kReportSaved[] = "报告已保存：%s";
inline constexpr char kReportNotSaved[] = "报告未能保存：%s";
inline constexpr char kListNotWritten[] = "无法写出设备列表：标准输出写入失败";
inline constexpr char kStagesCaption[] = "分批升级（每个型号先升级一台）";
inline constexpr char kFirstFailureAsk[] = "首批设备中有%d台升级失败（原因：%s）。继续升级其余设备吗？";
inline constexpr char kBrakeNotice[] =
    "型号%s的设备失败过多，已停止升级该型号：已结束%d台，其中失败%d台（原因：%s）。该型号其余%d台设备未升级，"
    "正在进行的升级会完成并验证，其他型号继续升级。";
inline constexpr char kStagesNeedVerify[] = "未选择升级后验证版本：本次不分批升级，失败时也不会自动停止。";
inline constexpr char kStopFirstFailure[] = "首批设备中有%d台升级失败，其余设备未升级";
inline constexpr char kStopBrake[] = "型号%s的设备失败过多，已自动停止";
inline constexpr char kStopCancelled[] = "升级已取消";
inline constexpr char kStoppedLine[] = "已停止：%s";
inline constexpr char kNotStartedLine[] = "未升级：%d 台";
}  // namespace flowtext
