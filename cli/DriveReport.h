#pragma once

#include <string>

// Where one drive's operation says what happened, a line at a time: on the terminal at once when
// the program works on one drive, kept for that drive's result when it works on several.
class DriveReport {
public:
    // A text for the standard output (what happened) and one for the standard error (why).
    virtual void Out(const std::string& line) = 0;
    virtual void Err(const std::string& line) = 0;

protected:
    ~DriveReport() = default;
};
