#pragma once

// The millisecond pause of the platform.
class SleepApi {
public:
    virtual void Pause(unsigned milliseconds) = 0;

protected:
    ~SleepApi() = default;
};
