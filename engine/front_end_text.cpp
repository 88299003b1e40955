// Front-end texts; see front_end_text.h.
#include "engine/front_end_text.h"

namespace flowtext {

std::string progressFound(int count) {
    return "当前已发现设备数量：" + std::to_string(count);
}

std::string progressConnecting(const std::string& utf8Address) {
    return "正在连接设备：" + utf8Address;
}

std::string progressFailed(int total, int done) {
    return "共有 " + std::to_string(total) + " 连接失败设备，正在处理：" + std::to_string(done);
}

}  // namespace flowtext

void ProgressLines::onSearch(const std::optional<std::string>& utf8Address, int count) {
    if (count > 0) line1 = flowtext::progressFound(count);
    line2 = utf8Address ? flowtext::progressConnecting(*utf8Address) : std::string();
}

void ProgressLines::onFailed(int total, int done) {
    line2 = flowtext::progressFailed(total, done);
}
