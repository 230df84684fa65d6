#include "transport/DriveTransport.h"

DriveTransport::DriveTransport() {
    ClearDeviceRecord(CurrentDevice);
}

DriveTransport::~DriveTransport() = default;

TransportFailure DriveTransport::LastFailure() const { return TransportFailure(); }
