#include "transport/OsVersionInfo.h"

OsVersionRecord OsVersionInfo = {};
