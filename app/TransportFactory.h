#pragma once

#include "transport/DriveTransport.h"

// Creates the drive-access layer of each operating-system family. The program's wiring gives the
// real transports their platform seams; tests give simulated ones.
class TransportFactory {
public:
    // Windows NT family: SCSI pass-through.
    virtual DriveTransport* CreatePassThroughTransport() = 0;
    // Windows 95/98: the ASPI manager.
    virtual DriveTransport* CreateAspiTransport() = 0;

protected:
    ~TransportFactory() = default;
};
