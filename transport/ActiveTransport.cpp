#include "transport/ActiveTransport.h"

DriveTransport* ActiveTransport = nullptr;
