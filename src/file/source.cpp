#include "file/source.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace tarvex {
namespace {

// --- Guard against files that shrink while mapped -------------------------
//
// Reading a mapped page that lies past the end of a file that was truncated
// after mapping raises SIGBUS.  Every mapping is registered in a fixed table;
// the SIGBUS handler looks the faulting address up and, for one of ours,
// replaces the page with a zero page so that the read completes, and marks
// the source.  Faults outside our mappings go to the previous handler.

constexpr int kGuardSlots = 1 << 16;

struct GuardSlot {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> hit{false};
};

GuardSlot g_slots[kGuardSlots];
std::atomic<int> g_hint{0};
std::mutex g_handler_mu;
struct sigaction g_previous;
bool g_have_previous = false;

long page_size() {
    static const long ps = sysconf(_SC_PAGESIZE);
    return ps;
}

void sigbus_handler(int sig, siginfo_t* info, void* ctx) {
    auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (int i = 0; i < kGuardSlots; ++i) {
        std::uintptr_t s = g_slots[i].start.load(std::memory_order_acquire);
        if (s == 0 || addr < s) continue;
        if (addr >= g_slots[i].end.load(std::memory_order_acquire)) continue;
        // Everything from the faulting page to the end of the mapping is gone:
        // replace it in one step so that later reads do not fault again.
        auto mask = static_cast<std::uintptr_t>(page_size() - 1);
        std::uintptr_t page = addr & ~mask;
        std::uintptr_t stop = (g_slots[i].end.load(std::memory_order_acquire) + mask) & ~mask;
        void* r = mmap(reinterpret_cast<void*>(page), stop - page, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (r != MAP_FAILED) {
            g_slots[i].hit.store(true, std::memory_order_release);
            return;  // the faulting read is retried and now sees zeros
        }
        break;
    }
    // Not ours: behave as if we were never installed.
    if (g_have_previous) {
        if (g_previous.sa_flags & SA_SIGINFO) {
            if (g_previous.sa_sigaction) {
                g_previous.sa_sigaction(sig, info, ctx);
                return;
            }
        } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
            g_previous.sa_handler(sig);
            return;
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Make sure our handler is the installed one (someone, e.g. faulthandler, may
// have replaced it since); the replaced handler becomes the one we chain to.
void ensure_handler() {
    std::lock_guard<std::mutex> lk(g_handler_mu);
    struct sigaction cur;
    if (sigaction(SIGBUS, nullptr, &cur) != 0) return;
    if ((cur.sa_flags & SA_SIGINFO) && cur.sa_sigaction == sigbus_handler) return;
    struct sigaction sa = {};
    sa.sa_sigaction = sigbus_handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGBUS, &sa, &g_previous) == 0) g_have_previous = true;
}

int register_mapping(const char* data, std::size_t size) {
    auto s = reinterpret_cast<std::uintptr_t>(data);
    int start = g_hint.load(std::memory_order_relaxed);
    for (int k = 0; k < kGuardSlots; ++k) {
        int i = (start + k) & (kGuardSlots - 1);
        std::uintptr_t expected = 0;
        // Claim the slot by its end word first, then publish the start.
        if (g_slots[i].end.compare_exchange_strong(expected, s + size, std::memory_order_acq_rel)) {
            g_slots[i].hit.store(false, std::memory_order_relaxed);
            g_slots[i].start.store(s, std::memory_order_release);
            g_hint.store((i + 1) & (kGuardSlots - 1), std::memory_order_relaxed);
            return i;
        }
    }
    return -1;  // table full: the mapping is simply not guarded
}

void unregister_mapping(int slot) {
    if (slot < 0) return;
    g_slots[slot].start.store(0, std::memory_order_release);
    g_slots[slot].end.store(0, std::memory_order_release);
}

}  // namespace

Source::Source(MapTag, const char* data, std::size_t size) : v_(Mapped{data, size}) {
    ensure_handler();
    guard_slot_ = register_mapping(data, size);
}

Source::~Source() {
    if (auto* m = std::get_if<Mapped>(&v_)) {
        unregister_mapping(guard_slot_);
        munmap(const_cast<char*>(m->data), m->size);
    }
}

std::variant<SourcePtr, OpenFailure> Source::open(const std::string& path) {
    // O_NONBLOCK: a FIFO named as a file must not block the caller forever
    // (it reads as empty); it has no effect on regular files.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return OpenFailure{OpenFailure::Stage::Open, errno};
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        return std::make_shared<const Source>();
    }
    // The mapping step asks for the size again; that query failing is a
    // mapping failure.
    if (fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return OpenFailure{OpenFailure::Stage::Map, err};
    }
    if (st.st_size <= 0) {
        ::close(fd);
        return std::make_shared<const Source>();
    }
    auto size = static_cast<std::size_t>(st.st_size);
    void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    int err = errno;
    ::close(fd);
    if (p == MAP_FAILED) return OpenFailure{OpenFailure::Stage::Map, err};
    madvise(p, size, MADV_SEQUENTIAL);
    return SourcePtr(new Source(MapTag{}, static_cast<const char*>(p), size));
}

std::string_view Source::bytes() const noexcept {
    switch (v_.index()) {
        case 0:
            return std::get<Owned>(v_).bytes;
        case 1: {
            const auto& m = std::get<Mapped>(v_);
            return {m.data, m.size};
        }
        default: {
            const auto& inner = std::get<Shared>(v_).inner;
            return inner ? inner->bytes() : std::string_view();
        }
    }
}

bool Source::is_mapped() const noexcept {
    if (std::holds_alternative<Mapped>(v_)) return true;
    if (auto* s = std::get_if<Shared>(&v_)) return s->inner && s->inner->is_mapped();
    return false;
}

bool Source::truncated_while_mapped() const noexcept {
    if (std::holds_alternative<Mapped>(v_))
        return guard_slot_ >= 0 && g_slots[guard_slot_].hit.load(std::memory_order_acquire);
    if (auto* s = std::get_if<Shared>(&v_)) return s->inner && s->inner->truncated_while_mapped();
    return false;
}

}  // namespace tarvex
