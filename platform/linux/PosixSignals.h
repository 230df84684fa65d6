#pragma once

#include "cli/SignalApi.h"

// The process's signal dispositions and mask. One per process: the handler notes into a
// process-wide flag.
class PosixSignals final : public SignalApi {
public:
    void CatchStops() override;
    int Caught() override;
    void HoldStops() override;
    int Held() override;
};
