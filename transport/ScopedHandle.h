#pragma once

// One handle (a registry key, a device handle, a library, a file descriptor) closed exactly once:
// by Close, by a Reset to another handle, or when the holder ends, whichever comes first. A handle
// that never opened (Traits::Invalid) is never closed: for a device handle INVALID_HANDLE_VALUE is
// also the process's own.
//
// TRAITS says what is held and how it is closed:
//     using Handle = ...;                       the handle's type
//     static constexpr Handle Invalid = ...;    what a failed open gives, or nothing at all
//     void Close(Handle handle) const;          closes it; its result is not looked at
// The holder keeps a copy of its traits: traits that close through a seam keep a reference to it,
// and the seam must outlive the holder.
//
// The handle lives in the holder, or in a slot that its owner keeps (a transport's public handle
// member), so that the owner's code reads it there meanwhile; Close leaves Invalid in the slot.
template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    // For traits that need nothing to close with.
    explicit ScopedHandle(Handle handle = Traits::Invalid) : traits_(), own_(handle), slot_(own_) {}
    explicit ScopedHandle(Traits traits, Handle handle = Traits::Invalid)
        : traits_(traits), own_(handle), slot_(own_) {}
    // Holds whatever SLOT keeps from now on.
    ScopedHandle(Traits traits, Handle* slot) : traits_(traits), slot_(*slot) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle Get() const { return slot_; }
    bool IsOpen() const { return slot_ != Traits::Invalid; }
    // Closes what is held and holds HANDLE instead.
    void Reset(Handle handle) {
        Close();
        slot_ = handle;
    }
    void Close() {
        if (slot_ == Traits::Invalid) return;
        const Handle handle = slot_;
        slot_ = Traits::Invalid;
        traits_.Close(handle);
    }

private:
    Traits traits_;
    Handle own_ = Traits::Invalid;
    Handle& slot_;
};
