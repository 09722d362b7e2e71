#include "discovery/DiskInfo.h"

namespace discovery {

void ReleaseDrives(DriveTable& table) {
    for (auto& slot : table) {
        if (!slot) continue;
        for (auto& logical : slot->logicalDrives) logical.reset();
        slot->privateCmd.reset();
        slot.reset();
    }
}

}  // namespace discovery
