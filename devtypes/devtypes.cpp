// Device type catalogue and the serial-number classifier.
#include "devtypes/devtypes.h"

#include <cstring>

namespace {

// Names: simplified Chinese in code page 936, traditional Chinese in Big5 (escaped bytes; the comment
// above each record gives both in readable form), English.
constexpr SS_SN_TYPE_RECORD kCatalogue[SS_SN_TYPE_COUNT] = {
    // 未知设备 / 未知設備
    {"SS_SN_TYPE_UNKNOW", "\xce\xb4\xd6\xaa\xc9\xe8\xb1\xb8", "\xa5\xbc\xaa\xbe\xb3\x5d\xb3\xc6",
     "Unknown device"},
    // 分机 / 分機
    {"SS_SN_TYPE_SLAVE", "\xb7\xd6\xbb\xfa", "\xa4\xc0\xbe\xf7", "Extension"},
    // 数字主机 / 數字主機
    {"SS_SN_TYPE_DIGATAL_MASTER", "\xca\xfd\xd7\xd6\xd6\xf7\xbb\xfa", "\xbc\xc6\xa6\x72\xa5\x44\xbe\xf7",
     "Digital master station"},
    // 模拟主机 / 模擬主機
    {"SS_SN_TYPE_AD_MASTER", "\xc4\xa3\xc4\xe2\xd6\xf7\xbb\xfa", "\xbc\xd2\xc0\xc0\xa5\x44\xbe\xf7",
     "Analog master station"},
    // 地址盒 / 地址盒
    {"SS_SN_TYPE_SERVER", "\xb5\xd8\xd6\xb7\xba\xd0", "\xa6\x61\xa7\x7d\xb2\xb0", "Address box"},
    // 软件主机 / 軟件主機
    {"SS_SN_TYPE_SOFT_MASTER", "\xc8\xed\xbc\xfe\xd6\xf7\xbb\xfa", "\xb3\x6e\xa5\xf3\xa5\x44\xbe\xf7",
     "Software master station"},
    // 模拟分机 / 模擬分機
    {"SS_SN_TYPE_AD", "\xc4\xa3\xc4\xe2\xb7\xd6\xbb\xfa", "\xbc\xd2\xc0\xc0\xa4\xc0\xbe\xf7",
     "Analog extension"},
    // 软件广播 / 軟件廣播
    {"SS_SN_TYPE_SOFT_BROADCAST", "\xc8\xed\xbc\xfe\xb9\xe3\xb2\xa5", "\xb3\x6e\xa5\xf3\xbc\x73\xbc\xbd",
     "Software broadcast"},
    // 消防联动矩阵 / 消防聯動矩陣
    {"SS_SN_TYPE_FIRE_CONTROL_MATRIX", "\xcf\xfb\xb7\xc0\xc1\xaa\xb6\xaf\xbe\xd8\xd5\xf3",
     "\xae\xf8\xa8\xbe\xc1\x70\xb0\xca\xaf\x78\xb0\x7d", "Fire control matrix"},
    // 灯控器 / 燈控器
    {"SS_SN_TYPE_LCONTROL", "\xb5\xc6\xbf\xd8\xc6\xf7", "\xbf\x4f\xb1\xb1\xbe\xb9", "Light controller"},
    // 电话适配器 / 電話適配器
    {"SS_SN_TYPE_ATA", "\xb5\xe7\xbb\xb0\xca\xca\xc5\xe4\xc6\xf7", "\xb9\x71\xb8\xdc\xbe\x41\xb0\x74\xbe\xb9",
     "Telephone adapter"},
    // 排队主机 / 排隊主機
    {"SS_SN_TYPE_QUEUE_MASTER", "\xc5\xc5\xb6\xd3\xd6\xf7\xbb\xfa", "\xb1\xc6\xb6\xa4\xa5\x44\xbe\xf7",
     "Queueing master"},
    // 诊室显示屏 / 診室顯示屏
    {"SS_SN_TYPE_QUEUE_CLINIC_DISPLAY", "\xd5\xef\xca\xd2\xcf\xd4\xca\xbe\xc6\xc1",
     "\xb6\x45\xab\xc7\xc5\xe3\xa5\xdc\xab\xcc", "Clinic display"},
    // 排队呼叫器 / 排隊呼叫器
    {"SS_SN_TYPE_QUEUE_CALLER", "\xc5\xc5\xb6\xd3\xba\xf4\xbd\xd0\xc6\xf7",
     "\xb1\xc6\xb6\xa4\xa9\x49\xa5\x73\xbe\xb9", "Queue caller"},
    // 取号机 / 取號機
    {"SS_SN_TYPE_QUEUE_TICKET", "\xc8\xa1\xba\xc5\xbb\xfa", "\xa8\xfa\xb8\xb9\xbe\xf7", "Ticket dispenser"},
    // 语音控制器 / 語音控制器
    {"SS_SN_TYPE_QUEUE_VOICE_CONTROLER", "\xd3\xef\xd2\xf4\xbf\xd8\xd6\xc6\xc6\xf7",
     "\xbb\x79\xad\xb5\xb1\xb1\xa8\xee\xbe\xb9", "Voice controller"},
    // 围墙机 / 圍牆機
    {"SS_SN_TYPE_BUILDING_OUTSIDE_DOOR", "\xce\xa7\xc7\xbd\xbb\xfa", "\xb3\xf2\xc0\xf0\xbe\xf7",
     "Outer gate station"},
    // 室内机 / 室內機
    {"SS_SN_TYPE_BUILDING_HOME", "\xca\xd2\xc4\xda\xbb\xfa", "\xab\xc7\xa4\xba\xbe\xf7", "Indoor unit"},
    // 管理机 / 管理機
    {"SS_SN_TYPE_BUILDING_MANAGER", "\xb9\xdc\xc0\xed\xbb\xfa", "\xba\xde\xb2\x7a\xbe\xf7",
     "Management station"},
    // 单元门口机 / 單元門口機
    {"SS_SN_TYPE_BUILDING_DOOR", "\xb5\xa5\xd4\xaa\xc3\xc5\xbf\xda\xbb\xfa",
     "\xb3\xe6\xa4\xb8\xaa\xf9\xa4\x66\xbe\xf7", "Entrance door station"},
    // 探视主机 / 探視主機
    {"SS_SN_TYPE_ICU_MASTER", "\xcc\xbd\xca\xd3\xd6\xf7\xbb\xfa", "\xb1\xb4\xb5\xf8\xa5\x44\xbe\xf7",
     "Visiting master station"},
    // 探视分机 / 探視分機
    {"SS_SN_TYPE_ICU_SLAVE_VISIT", "\xcc\xbd\xca\xd3\xb7\xd6\xbb\xfa", "\xb1\xb4\xb5\xf8\xa4\xc0\xbe\xf7",
     "Visitor extension"},
    // 床头分机 / 床頭分機
    {"SS_SN_TYPE_ICU_SLAVE_BED", "\xb4\xb2\xcd\xb7\xb7\xd6\xbb\xfa", "\xa7\xc9\xc0\x59\xa4\xc0\xbe\xf7",
     "Bedside extension"},
    // 软件广播主机 / 軟件廣播主機
    {"SS_SN_TYPE_SOFT_BROADCAST_MASTER", "\xc8\xed\xbc\xfe\xb9\xe3\xb2\xa5\xd6\xf7\xbb\xfa",
     "\xb3\x6e\xa5\xf3\xbc\x73\xbc\xbd\xa5\x44\xbe\xf7", "Software broadcast master"},
    // 软件广播分机 / 軟件廣播分機
    {"SS_SN_TYPE_SOFT_BROADCAST_SLAVE", "\xc8\xed\xbc\xfe\xb9\xe3\xb2\xa5\xb7\xd6\xbb\xfa",
     "\xb3\x6e\xa5\xf3\xbc\x73\xbc\xbd\xa4\xc0\xbe\xf7", "Software broadcast extension"},
    // 评价器 / 評價器
    {"SS_SN_TYPE_QUEUE_OPINION_COLLECTOR", "\xc6\xc0\xbc\xdb\xc6\xf7", "\xb5\xfb\xbb\xf9\xbe\xb9",
     "Opinion collector"},
    // 管理服务器 / 管理服務器
    {"SS_SN_TYPE_ADMINISTRATION_SERVER", "\xb9\xdc\xc0\xed\xb7\xfe\xce\xf1\xc6\xf7",
     "\xba\xde\xb2\x7a\xaa\x41\xb0\xc8\xbe\xb9", "Administration server"},
    // 代理服务器 / 代理服務器
    {"SS_SN_TYPE_AGENT", "\xb4\xfa\xc0\xed\xb7\xfe\xce\xf1\xc6\xf7",
     "\xa5\x4e\xb2\x7a\xaa\x41\xb0\xc8\xbe\xb9", "Agent"},
    // 多媒体分机 / 多媒體分機
    {"SS_SN_TYPE_MULTIMEDIA_SLAVE", "\xb6\xe0\xc3\xbd\xcc\xe5\xb7\xd6\xbb\xfa",
     "\xa6\x68\xb4\x43\xc5\xe9\xa4\xc0\xbe\xf7", "Multimedia extension"},
    // 门口机 / 門口機
    {"SS_SN_TYPE_DOOR_STATION", "\xc3\xc5\xbf\xda\xbb\xfa", "\xaa\xf9\xa4\x66\xbe\xf7", "Door station"},
    // 显示屏 / 顯示屏
    {"SS_SN_TYPE_DISPLAY", "\xcf\xd4\xca\xbe\xc6\xc1", "\xc5\xe3\xa5\xdc\xab\xcc", "Display"},
    // 电话机 / 電話機
    {"SS_SN_TYPE_PHONE", "\xb5\xe7\xbb\xb0\xbb\xfa", "\xb9\x71\xb8\xdc\xbe\xf7", "Phone"},
    // 模拟门口机 / 模擬門口機
    {"SS_SN_TYPE_AD_DOOR_STATION", "\xc4\xa3\xc4\xe2\xc3\xc5\xbf\xda\xbb\xfa",
     "\xbc\xd2\xc0\xc0\xaa\xf9\xa4\x66\xbe\xf7", "Analog door station"},
    // 点名器 / 點名器
    {"SS_SN_TYPE_CALLOVER_DEVICE", "\xb5\xe3\xc3\xfb\xc6\xf7", "\xc2\x49\xa6\x57\xbe\xb9",
     "Roll-call device"},
    // 点名软件主机 / 點名軟件主機
    {"SS_SN_TYPE_CALLOVER_SOFT_MASTER", "\xb5\xe3\xc3\xfb\xc8\xed\xbc\xfe\xd6\xf7\xbb\xfa",
     "\xc2\x49\xa6\x57\xb3\x6e\xa5\xf3\xa5\x44\xbe\xf7", "Roll-call software master"},
    // 点名软件分机 / 點名軟件分機
    {"SS_SN_TYPE_CALLOVER_SOFT_SLAVE", "\xb5\xe3\xc3\xfb\xc8\xed\xbc\xfe\xb7\xd6\xbb\xfa",
     "\xc2\x49\xa6\x57\xb3\x6e\xa5\xf3\xa4\xc0\xbe\xf7", "Roll-call software extension"},
    // 探视门口机 / 探視門口機
    {"SS_SN_TYPE_ICU_SLAVE_DOOR", "\xcc\xbd\xca\xd3\xc3\xc5\xbf\xda\xbb\xfa",
     "\xb1\xb4\xb5\xf8\xaa\xf9\xa4\x66\xbe\xf7", "Visiting door station"},
    // 签到机 / 簽到機
    {"SS_SN_TYPE_QUEUE_CHECKIN", "\xc7\xa9\xb5\xbd\xbb\xfa", "\xc3\xb1\xa8\xec\xbe\xf7", "Check-in terminal"},
    // 探视监控主机 / 探視監控主機
    {"SS_SN_TYPE_ICU_MASTER_MONITOR", "\xcc\xbd\xca\xd3\xbc\xe0\xbf\xd8\xd6\xf7\xbb\xfa",
     "\xb1\xb4\xb5\xf8\xba\xca\xb1\xb1\xa5\x44\xbe\xf7", "Visiting monitor master"},
    // 会见分机 / 會見分機
    {"SS_SN_TYPE_ICU_SLAVE_INTERVIEW", "\xbb\xe1\xbc\xfb\xb7\xd6\xbb\xfa", "\xb7\x7c\xa8\xa3\xa4\xc0\xbe\xf7",
     "Interview extension"},
    // 律师会见分机 / 律師會見分機
    {"SS_SN_TYPE_ICU_SLAVE_LAWYER", "\xc2\xc9\xca\xa6\xbb\xe1\xbc\xfb\xb7\xd6\xbb\xfa",
     "\xab\xdf\xae\x76\xb7\x7c\xa8\xa3\xa4\xc0\xbe\xf7", "Lawyer interview extension"},
    // 网络广播控制器 / 網絡廣播控制器
    {"SS_SN_TYPE_NB_CONTROL", "\xcd\xf8\xc2\xe7\xb9\xe3\xb2\xa5\xbf\xd8\xd6\xc6\xc6\xf7",
     "\xba\xf4\xb5\xb8\xbc\x73\xbc\xbd\xb1\xb1\xa8\xee\xbe\xb9", "Network broadcast controller"},
    // 挂号机 / 掛號機
    {"SS_SN_TYPE_QUEUE_REGISTE", "\xb9\xd2\xba\xc5\xbb\xfa", "\xb1\xbe\xb8\xb9\xbe\xf7",
     "Registration terminal"},
    // 远程探视分机 / 遠程探視分機
    {"SS_SN_TYPE_ICU_SLAVE_REMOTE", "\xd4\xb6\xb3\xcc\xcc\xbd\xca\xd3\xb7\xd6\xbb\xfa",
     "\xbb\xb7\xb5\x7b\xb1\xb4\xb5\xf8\xa4\xc0\xbe\xf7", "Remote visiting extension"},
    // 访客分机 / 訪客分機
    {"SS_SN_TYPE_SLAVE_VISIT", "\xb7\xc3\xbf\xcd\xb7\xd6\xbb\xfa", "\xb3\x58\xab\xc8\xa4\xc0\xbe\xf7",
     "Visitor station"},
};

// True when the text from the fourth character on starts with `code` (case-sensitive).
bool codeIs(const char* code4, const char* code) {
    return std::strncmp(code4, code, std::strlen(code)) == 0;
}

int classifyA(const char* s) {
    if (codeIs(s, "A080")) return SS_SN_TYPE_QUEUE_REGISTE;
    if (codeIs(s, "A081") || codeIs(s, "A082") || codeIs(s, "A083")) return SS_SN_TYPE_QUEUE_CHECKIN;
    if (codeIs(s, "A09")) return SS_SN_TYPE_QUEUE_CALLER;
    if (codeIs(s, "A0")) return SS_SN_TYPE_SLAVE;
    if (codeIs(s, "A11")) return SS_SN_TYPE_AD_DOOR_STATION;
    if (codeIs(s, "A2") || codeIs(s, "A3") || codeIs(s, "A4")) return SS_SN_TYPE_DIGATAL_MASTER;
    if (codeIs(s, "A5")) return SS_SN_TYPE_AD_MASTER;
    if (codeIs(s, "A6")) return SS_SN_TYPE_MULTIMEDIA_SLAVE;
    static constexpr struct {
        const char* code;
        int type;
    } kRest[] = {{"A70", SS_SN_TYPE_ICU_MASTER},
                 {"A71", SS_SN_TYPE_ICU_SLAVE_VISIT},
                 {"A72", SS_SN_TYPE_ICU_SLAVE_BED},
                 {"A73", SS_SN_TYPE_ICU_MASTER_MONITOR},
                 {"A74", SS_SN_TYPE_ICU_SLAVE_INTERVIEW},
                 {"A75", SS_SN_TYPE_ICU_SLAVE_LAWYER},
                 {"A76", SS_SN_TYPE_ICU_SLAVE_REMOTE},
                 {"A8", SS_SN_TYPE_DOOR_STATION},
                 {"A90", SS_SN_TYPE_AGENT},
                 {"A91", SS_SN_TYPE_DISPLAY},
                 {"A92", SS_SN_TYPE_PHONE},
                 {"A93", SS_SN_TYPE_CALLOVER_DEVICE},
                 {"AA0", SS_SN_TYPE_NB_CONTROL},
                 {"AA1", SS_SN_TYPE_SLAVE},
                 {"AA2", SS_SN_TYPE_SLAVE_VISIT}};
    for (const auto& rule : kRest) {
        if (codeIs(s, rule.code)) return rule.type;
    }
    return SS_SN_TYPE_UNKNOW;
}

int classify8(const char* s) {
    static constexpr struct {
        const char* code;
        int type;
    } kRules[] = {{"800", SS_SN_TYPE_QUEUE_MASTER},          {"801", SS_SN_TYPE_LCONTROL},
                  {"802", SS_SN_TYPE_QUEUE_CLINIC_DISPLAY},  {"803", SS_SN_TYPE_QUEUE_CALLER},
                  {"8040", SS_SN_TYPE_QUEUE_TICKET},         {"8041", SS_SN_TYPE_QUEUE_CHECKIN},
                  {"805", SS_SN_TYPE_QUEUE_VOICE_CONTROLER}, {"806", SS_SN_TYPE_QUEUE_OPINION_COLLECTOR},
                  {"807", SS_SN_TYPE_ADMINISTRATION_SERVER}};
    for (const auto& rule : kRules) {
        if (codeIs(s, rule.code)) return rule.type;
    }
    return SS_SN_TYPE_UNKNOW;
}

}  // namespace

int classifySerialNumber(const char* serialNumber) {
    if (serialNumber == nullptr || std::strlen(serialNumber) < 11) return SS_SN_TYPE_UNKNOW;
    const char* s = serialNumber + 3;  // the first three characters are not examined
    switch (s[0]) {
        case '0':
            return SS_SN_TYPE_SERVER;
        case '1':
            return SS_SN_TYPE_SLAVE;
        case '2':
        case '3':
        case '4':
            return codeIs(s, "401") ? SS_SN_TYPE_DOOR_STATION : SS_SN_TYPE_DIGATAL_MASTER;
        case '5':
            return codeIs(s, "501") ? SS_SN_TYPE_AD : SS_SN_TYPE_AD_MASTER;
        case '6':
            return SS_SN_TYPE_SOFT_BROADCAST;
        case '7':
            return SS_SN_TYPE_FIRE_CONTROL_MATRIX;
        case '8':
            return classify8(s);
        case '9':
            return SS_SN_TYPE_ATA;
        case 'A':
            return classifyA(s);
        case 'B':
            if (codeIs(s, "B00")) return SS_SN_TYPE_BUILDING_OUTSIDE_DOOR;
            if (codeIs(s, "B01")) return SS_SN_TYPE_BUILDING_HOME;
            if (codeIs(s, "B02")) return SS_SN_TYPE_BUILDING_MANAGER;
            if (codeIs(s, "B03")) return SS_SN_TYPE_BUILDING_DOOR;
            return SS_SN_TYPE_UNKNOW;
        case 'C':
            if (codeIs(s, "C00")) return SS_SN_TYPE_ICU_MASTER;
            if (codeIs(s, "C01")) return SS_SN_TYPE_ICU_SLAVE_VISIT;
            if (codeIs(s, "C02")) return SS_SN_TYPE_ICU_SLAVE_BED;
            if (codeIs(s, "C03")) return SS_SN_TYPE_ICU_SLAVE_DOOR;
            return SS_SN_TYPE_UNKNOW;
        case 'D':
            if (codeIs(s, "D00")) return SS_SN_TYPE_CALLOVER_SOFT_MASTER;
            if (codeIs(s, "D01")) return SS_SN_TYPE_CALLOVER_SOFT_SLAVE;
            return SS_SN_TYPE_SOFT_BROADCAST_MASTER;
        case 'E':
            return SS_SN_TYPE_SLAVE;
        case 'F':
            if (codeIs(s, "F00") || codeIs(s, "F01")) return SS_SN_TYPE_SLAVE;
            if (codeIs(s, "F02")) return SS_SN_TYPE_DOOR_STATION;
            return SS_SN_TYPE_UNKNOW;
        default:
            return SS_SN_TYPE_UNKNOW;
    }
}

const SS_SN_TYPE_RECORD& ss_sn_type_record(int index) {
    if (index < 0 || index >= SS_SN_TYPE_COUNT) return kCatalogue[SS_SN_TYPE_UNKNOW];
    return kCatalogue[index];
}
