#include "transport/DeviceRecord.h"

#include <cstring>

void ClearDeviceRecord(DeviceRecord& record) {
    std::memset(&record, 0, sizeof record);
}
