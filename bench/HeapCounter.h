#pragma once

#include <cstddef>

// Counts every allocation of the process through replaced global operator new and delete: the
// bytes live now, the most live since the last ResetPeak, and the allocations made.
class HeapCounter {
public:
    static size_t LiveBytes();
    static size_t PeakBytes();
    static size_t Allocations();
    static void ResetPeak();
};
