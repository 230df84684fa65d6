#include "app/ActiveTransport.h"

DriveTransport* ActiveTransport = nullptr;
