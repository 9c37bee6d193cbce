#ifndef TARNWICK_SETTINGS_BURN_INFO_H
#define TARNWICK_SETTINGS_BURN_INFO_H

// Result codes, chip departments and the partition row shared by the front
// end, the settings readers and the burn jobs.

#include <cstdint>
#include <string>

#include "common/chip_family.h"

namespace BurnInfo {

// Result codes of the front end and the burn jobs; they become the exit code.
constexpr int SUCCESS = 0;
constexpr int PARAM_ERROR = 1;
constexpr int LOAD_FILE_FAILED = 2;
constexpr int INIT_TRANSFER_WAY_FAILED = 3;
constexpr int BURN_BOOT_FAILED = 4;
constexpr int BURN_PARTITION_FAILED = 5;
constexpr int ERASE_PARTITION_FAILED = 6;
constexpr int READ_PARTITION_FAILED = 7;
constexpr int NULL_POINTER_ERROR = 8;
constexpr int NEW_OR_MALLOC_FAILED = 9;
constexpr int SEND_CMD_FAILED = 10;
constexpr int BURN_SMALL_SSB_FAILED = 11;
constexpr int ERASE_FAILED = 12;
constexpr int BURN_CHECK_FAILED = 13;
constexpr int RESET_FAILED = 14;
constexpr int NETWORK_ERROR = 15;

// Chip family groups: bits 16 to 23 of the chip type.
constexpr int CAMERA_CHIP = 1;
constexpr int TV_CHIP = 2;
constexpr int CONNECTION_CHIP = Common::CONNECTION_DEPARTMENT;
constexpr int MCU_CHIP = 4;
constexpr int DISPLAY_DRIVER_CHIP = 5;
constexpr int WING_CHIP = 6;

constexpr int FILE_BLOCK_SIZE_32 = 0x2000000;

inline int DepartmentOf(int chipType)
{
    return Common::DepartmentOf(chipType);
}

enum class TransportWay : int {
    SERIAL = 0,
    NOT_CHOSEN = 1,
};

// Kept for the board selection of other tools of the family; nothing here sets it.
enum DEBUG_BOARD : int {
    DEBUG_BOARD_NONE = 0,
};

// One row of the partition table; row 0 is the loader.
struct PartitionItem {
    bool sel = false;
    std::string partitionName;
    int64_t fileSize = 0;
    std::string fileSystem;
    int fileType = 0;
    std::string flashType;
    int deviceId = 0;
    int64_t start = 0;
    int64_t length = 0;
    std::string selectFile;
    std::string elfFile;
    std::string fileName;
};

} // namespace BurnInfo

#endif
