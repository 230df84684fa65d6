#include "transport/DriveTransport.h"

DriveTransport::DriveTransport() {
    ClearDeviceRecord(CurrentDevice);
}

DriveTransport::~DriveTransport() = default;
