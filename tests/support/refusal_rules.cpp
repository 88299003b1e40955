#include "tests/support/refusal_rules.h"

namespace refusal_rules {

std::vector<Refusal> queryRefusals(const SiteAddresses& site) {
    return {
        {.name = "no model",
         .press = Press::query,
         .typedIp = site.addressBox,
         .untickModels = true,
         .message = "至少一个型号必须选择！"},
        {.name = "blank address box", .press = Press::query, .typedIp = "", .message = "请先输入地址盒IP"},
        {.name = "malformed address box",
         .press = Press::query,
         .typedIp = "0.1.2.3",
         .message = "非法地址盒IP"},
        {.name = "loopback address box",
         .press = Press::query,
         .typedIp = "127.0.0.5",
         .message = "非法地址盒IP"},
        {.name = "silent address box",
         .press = Press::query,
         .typedIp = site.silent,
         .message = "地址盒无应答，请检查IP地址和网络连接"},
        {.name = "not an address box",
         .press = Press::query,
         .typedIp = site.device,
         .message = "IP地址" + site.device + "的设备型号是" + site.deviceModel +
                    "，不是地址盒类设备，不能用于批量升级!"},
    };
}

std::vector<Refusal> addRefusals(const SiteAddresses& site) {
    return {
        {.name = "blank", .press = Press::add, .typedIp = "", .message = "请先输入要升级设备的IP地址"},
        {.name = "malformed", .press = Press::add, .typedIp = "0.9.9.9", .message = "非法IP地址"},
        {.name = "silent device",
         .press = Press::add,
         .typedIp = site.silent,
         .message = "不能从" + site.silent + "获得系统信息，或许它的软件版本太老"},
    };
}

std::vector<Refusal> upgradeRefusals(const SiteAddresses& site) {
    return {
        // The address box IP is required in single-IP mode too.
        {.name = "blank address box",
         .press = Press::upgrade,
         .typedIp = "",
         .listDevice = true,
         .message = "请先输入地址盒IP"},
        {.name = "empty list",
         .press = Press::upgrade,
         .typedIp = site.addressBox,
         .listDevice = true,
         .clearList = true,
         .message = "升级IP列表为空，请点击<获取设备列表>"},
        {.name = "nothing ticked",
         .press = Press::upgrade,
         .typedIp = site.addressBox,
         .listDevice = true,
         .untickRows = true,
         .message = "请选择要升级的IP！"},
    };
}

}  // namespace refusal_rules
