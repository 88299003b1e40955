// Device type catalogue: the 45 device types of the product family and the classifier that turns a
// serial number (the "SerialNum" of a GetSystemInfoOK answer) into a type index. The address-box
// check accepts only SS_SN_TYPE_SERVER and SS_SN_TYPE_ADMINISTRATION_SERVER.
// Read-only data and pure functions: safe on any thread.
#pragma once

enum SS_SN_TYPE {
    SS_SN_TYPE_UNKNOW = 0,
    SS_SN_TYPE_SLAVE = 1,
    SS_SN_TYPE_DIGATAL_MASTER = 2,
    SS_SN_TYPE_AD_MASTER = 3,
    SS_SN_TYPE_SERVER = 4,
    SS_SN_TYPE_SOFT_MASTER = 5,
    SS_SN_TYPE_AD = 6,
    SS_SN_TYPE_SOFT_BROADCAST = 7,
    SS_SN_TYPE_FIRE_CONTROL_MATRIX = 8,
    SS_SN_TYPE_LCONTROL = 9,
    SS_SN_TYPE_ATA = 10,
    SS_SN_TYPE_QUEUE_MASTER = 11,
    SS_SN_TYPE_QUEUE_CLINIC_DISPLAY = 12,
    SS_SN_TYPE_QUEUE_CALLER = 13,
    SS_SN_TYPE_QUEUE_TICKET = 14,
    SS_SN_TYPE_QUEUE_VOICE_CONTROLER = 15,
    SS_SN_TYPE_BUILDING_OUTSIDE_DOOR = 16,
    SS_SN_TYPE_BUILDING_HOME = 17,
    SS_SN_TYPE_BUILDING_MANAGER = 18,
    SS_SN_TYPE_BUILDING_DOOR = 19,
    SS_SN_TYPE_ICU_MASTER = 20,
    SS_SN_TYPE_ICU_SLAVE_VISIT = 21,
    SS_SN_TYPE_ICU_SLAVE_BED = 22,
    SS_SN_TYPE_SOFT_BROADCAST_MASTER = 23,
    SS_SN_TYPE_SOFT_BROADCAST_SLAVE = 24,
    SS_SN_TYPE_QUEUE_OPINION_COLLECTOR = 25,
    SS_SN_TYPE_ADMINISTRATION_SERVER = 26,
    SS_SN_TYPE_AGENT = 27,
    SS_SN_TYPE_MULTIMEDIA_SLAVE = 28,
    SS_SN_TYPE_DOOR_STATION = 29,
    SS_SN_TYPE_DISPLAY = 30,
    SS_SN_TYPE_PHONE = 31,
    SS_SN_TYPE_AD_DOOR_STATION = 32,
    SS_SN_TYPE_CALLOVER_DEVICE = 33,
    SS_SN_TYPE_CALLOVER_SOFT_MASTER = 34,
    SS_SN_TYPE_CALLOVER_SOFT_SLAVE = 35,
    SS_SN_TYPE_ICU_SLAVE_DOOR = 36,
    SS_SN_TYPE_QUEUE_CHECKIN = 37,
    SS_SN_TYPE_ICU_MASTER_MONITOR = 38,
    SS_SN_TYPE_ICU_SLAVE_INTERVIEW = 39,
    SS_SN_TYPE_ICU_SLAVE_LAWYER = 40,
    SS_SN_TYPE_NB_CONTROL = 41,
    SS_SN_TYPE_QUEUE_REGISTE = 42,
    SS_SN_TYPE_ICU_SLAVE_REMOTE = 43,
    SS_SN_TYPE_SLAVE_VISIT = 44,
};
inline constexpr int SS_SN_TYPE_COUNT = 45;

// One catalogue record. The display names are reference data that no screen shows.
struct SS_SN_TYPE_RECORD {
    const char* identifier;  // the enumerator's name, e.g. "SS_SN_TYPE_SERVER"
    const char* nameGbk;     // simplified-Chinese name, code page 936
    char nameBig5[32];       // traditional-Chinese name, Big5, zero-filled
    const char* nameEnglish;
};

// Type index 0..44 of a serial number; 0 (SS_SN_TYPE_UNKNOW) for null, fewer than 11 characters, or
// no matching code. Only the characters from the fourth on are examined.
int classifySerialNumber(const char* serialNumber);

// The record of a type index; an index outside 0..44 gives the record of SS_SN_TYPE_UNKNOW.
const SS_SN_TYPE_RECORD& ss_sn_type_record(int index);
