// The settings commands of both device families, as tables of rows (code, CGI, keys, flags)
// read and written by one mechanism per family.
#pragma once

#include <cstdint>
#include <span>

#include "control/cgi_client.h"
#include "ipcam.h"

namespace ipcam {

enum SettingFlags : unsigned {
    kSettingRead = 1u << 0,
    kSettingWrite = 1u << 1,
    kChannelInName = 1u << 2,  // the CGI name carries "CH=%d"
    kChannelPrefix = 1u << 3,  // "CH=%d&" goes before the pairs of a write
    kSingleKey = 1u << 4,      // a read of one key answers with the lookup's result
    kFixedQuery = 1u << 5,     // the write sends the row's query text as it stands
    kFormatQuery = 1u << 6,    // the write fills the row's query format with the fields
    kMotionExtras = 1u << 7,   // newer cameras read four more keys on a channel
};

struct SettingRow;

// Where a settings command runs: the prepared client and what the dispatcher handed over.
struct SettingContext {
    CgiClient &client;
    int32_t channel;
    uint32_t modelCode;
};

using SpecialSetting = int (*)(const SettingRow &row, SettingContext &context,
                               IPCamSettingsRecord &record);

struct SettingRow {
    int32_t code;
    const char *cgi;
    unsigned flags;
    std::span<const char *const> keys;
    const char *query = nullptr;       // fixed query or query format
    SpecialSetting special = nullptr;  // commands with a reading of their own
};

// An empty settings record for code.
IPCamSettingsRecord settingsRecord(int32_t code);

const SettingRow *familyASetting(int32_t code);
const SettingRow *familyBSetting(int32_t code);

// Carry out one row on the record; results are the engine's, as each family reports them.
int runFamilyASetting(const SettingRow &row, SettingContext &context, IPCamSettingsRecord &record);
int runFamilyBSetting(const SettingRow &row, SettingContext &context, IPCamSettingsRecord &record);

}  // namespace ipcam
