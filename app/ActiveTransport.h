#pragma once

#include "transport/DriveTransport.h"

// The one drive-access layer of the Windows program, chosen at start-up by operating-system family.
// Only the dialog reads it: it hands it to the firmware operations it runs.
extern DriveTransport* ActiveTransport;
