#pragma once

#include "transport/DriveTransport.h"

// The one drive-access layer of the process, chosen at start-up by operating-system family. The
// firmware operations reach the drive only through it.
extern DriveTransport* ActiveTransport;
