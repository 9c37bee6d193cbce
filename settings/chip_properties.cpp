#include <filesystem>
#include <fstream>

#include "common/common_util.h"
#include "settings/burn_context.h"

namespace BurnInfo {

bool BurnContext::LoadChipProperties()
{
    const std::string path = m_files.exePath + CHIP_PROPERTIES + m_chip.chipName + ".txt";
    std::ifstream in(std::filesystem::u8path(path), std::ios::in);
    if (!in.is_open()) {
        Refuse("error: Open file failed: %s\n", path.c_str());
        return false;
    }

    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> parts = CommonUtil::Split(line, '=');
        if (parts.size() != 2) {
            continue;
        }
        const std::string& key = parts[0];
        const std::string& value = parts[1];
        if (key == "ChipType" || key == "LoadBurnAddress") {
            int number = 0;
            if (!CommonUtil::TryConvertToInt32(value, number)) {
                Refuse("error: Invalid number for key %s in file %s: \"%s\"\n", key.c_str(), path.c_str(),
                            value.c_str());
                return false;
            }
            if (key == "ChipType") {
                m_chip.chipType = number;
                m_chip.department = DepartmentOf(number);
            } else {
                m_files.loaderAddress = number;
            }
        } else if (key == "ResetAtCommand") {
            m_reset.resetAtCommand = value + "\r\n";
        } else if (key == "ResetSequence" && !m_reset.isResetSequenceFromOption) {
            Common::ResetSequence sequence;
            std::string why;
            if (!Common::ParseResetSequence(value, sequence, why)) {
                Refuse("error: Invalid reset sequence for key ResetSequence in file %s: \"%s\": %s\n",
                            path.c_str(), value.c_str(), why.c_str());
                return false;
            }
            m_reset.resetSequence = sequence;
        }
    }

    if (m_chip.chipType == 0) {
        Refuse("error: ChipType not found in file %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace BurnInfo
