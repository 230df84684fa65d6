// The handle holder: every handle that opened is closed exactly once, whichever way its holder
// lets go of it, and a handle that never opened is never closed.
#include <gtest/gtest.h>

#include <vector>

#include "transport/ScopedHandle.h"

namespace {

// Notes every close, as a seam would see it.
struct CloseLog {
    std::vector<int> Closed;
};

struct LoggedTraits {
    using Handle = int;
    static constexpr Handle Invalid = -1;
    CloseLog* Log;
    void Close(Handle handle) const { Log->Closed.push_back(handle); }
};

using Holder = ScopedHandle<LoggedTraits>;

TEST(ScopedHandle, ClosesEachOpenedHandleOnceWhicheverWayItIsLetGo) {
    struct Case {
        const char* Name;
        void (*Use)(Holder&);
        std::vector<int> Closed;
    };
    const Case cases[] = {
        {"the holder ends", [](Holder&) {}, {7}},
        {"closed, then the holder ends", [](Holder& h) { h.Close(); }, {7}},
        {"closed twice",
         [](Holder& h) {
             h.Close();
             h.Close();
         },
         {7}},
        {"reset to another", [](Holder& h) { h.Reset(9); }, {7, 9}},
        {"reset to nothing", [](Holder& h) { h.Reset(LoggedTraits::Invalid); }, {7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CloseLog log;
        {
            Holder holder(LoggedTraits{&log}, 7);
            EXPECT_TRUE(holder.IsOpen());
            c.Use(holder);
        }
        EXPECT_EQ(log.Closed, c.Closed);
    }
}

TEST(ScopedHandle, AHandleThatNeverOpenedIsNeverClosed) {
    CloseLog log;
    {
        Holder holder(LoggedTraits{&log}, LoggedTraits::Invalid);
        EXPECT_FALSE(holder.IsOpen());
        holder.Close();
    }
    EXPECT_TRUE(log.Closed.empty());
}

TEST(ScopedHandle, ASlotKeptByItsOwnerIsReadThereAndLeftInvalid) {
    CloseLog log;
    int slot = LoggedTraits::Invalid;
    {
        Holder holder(LoggedTraits{&log}, &slot);
        slot = 5;  // the owner opens into its own member
        EXPECT_EQ(holder.Get(), 5);
        holder.Close();
        EXPECT_EQ(slot, LoggedTraits::Invalid);
        slot = 6;
    }
    EXPECT_EQ(log.Closed, (std::vector<int>{5, 6}));
    EXPECT_EQ(slot, LoggedTraits::Invalid);
}

}  // namespace
