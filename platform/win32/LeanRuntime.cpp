// The parts of the C++ runtime that the program uses, without the exception machinery behind
// them. The program throws nothing and catches nothing; compiled without exceptions, it still
// reaches the runtime's allocation operators and std::string members, which throw, and linking
// those pulls in the exception classes, the unwinder and the terminate handler's name
// demangler: well over half of the program's code. Each failure here ends the process the way
// an exception nobody catches does: abort().
//
// This file depends on how GCC's C++ runtime is cut into members: the definitions below take
// the place of the runtime's own, which the linker then no longer pulls in. Any runtime member
// pulled in anyway still links (its duplicates are discarded or clash loudly), and the size
// figure of scripts/bench shows it.
#include <cstdlib>
#include <new>
#include <string>

// Allocation: the replaceable global operators, with the handler loop of the standard ones.
namespace {

void* Allocate(std::size_t size) noexcept {
    for (;;) {
        if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) return nullptr;
        handler();
    }
}

void* AllocateOrAbort(std::size_t size) {
    void* memory = Allocate(size);
    if (memory == nullptr) std::abort();
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrAbort(size); }
void* operator new[](std::size_t size) { return AllocateOrAbort(size); }
// The work buffers are obtained with these: a failure is an answer the operations report.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

// The runtime's throw helpers, which its headers call where the standard says "throws": every
// one that its member functexcept.o defines, so that nothing pulls that member in beside these.
namespace std {

void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
// An empty std::function called; the runtime's own lives beside the exception class it throws.
void __throw_bad_function_call() { std::abort(); }

// The runtime's own copy of std::string's members is built with exceptions; this one is built
// without. The linker keeps only the members the program calls.
template class basic_string<char>;

}  // namespace std
