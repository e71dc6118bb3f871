// The process-wide work-stealing thread pool.
//
// One worker per CPU available to the process (affinity mask and cgroup CPU
// quota respected; TARVEX_NUM_THREADS overrides the count, for scaling
// benchmarks).  The pool is created on first use and lives for the process.
//
// `join(a, b)` runs two tasks, possibly in parallel; `parallel_for` splits an
// index range recursively into halves that idle workers steal.  A thread that
// waits for a stolen task runs other pool tasks meanwhile, so nested parallel
// work never deadlocks and never uses more threads than there are workers.  A
// thread outside the pool (the Python caller) hands its work to the pool and
// sleeps until it is done.  An exception thrown by a task reaches the caller
// once all sibling tasks have finished; the left one wins when both throw.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarvex::pool {

// A unit of work that lives on the stack of the thread that forked it.
struct Job {
    void (*exec)(Job*) = nullptr;
    std::atomic<bool> done{false};
    std::exception_ptr error;
};

namespace detail {
bool in_worker() noexcept;
// Queue a job: on the calling worker's own deque, or on the shared injector
// queue when called from outside the pool.
void push(Job* job);
// Take `job` back from the calling worker's deque if no one stole it.
bool take_back(Job* job) noexcept;
// Run other work until `job` is done (calling worker only).
void wait_helping(Job* job);
// Queue `job` from a thread outside the pool and sleep until it is done.
void run_external(Job* job);
// Run a job and record its exception; marks it done and wakes waiters.
void execute(Job* job) noexcept;

template <class F>
struct FnJob : Job {
    F* fn;
    explicit FnJob(F* f) : fn(f) {
        exec = [](Job* j) { (*static_cast<FnJob*>(j)->fn)(); };
    }
};
}  // namespace detail

// Number of workers (creates the pool on first use).
std::size_t num_threads();

// Run `a` and `b`, possibly in parallel; returns when both have finished.
template <class A, class B>
void join(A&& a, B&& b) {
    if (!detail::in_worker()) {
        auto whole = [&] { join(a, b); };
        detail::FnJob<decltype(whole)> job(&whole);
        detail::run_external(&job);
        if (job.error) std::rethrow_exception(job.error);
        return;
    }
    detail::FnJob<std::remove_reference_t<B>> jb(&b);
    detail::push(&jb);
    std::exception_ptr ea;
    try {
        a();
    } catch (...) {
        ea = std::current_exception();
    }
    if (detail::take_back(&jb))
        detail::execute(&jb);
    else
        detail::wait_helping(&jb);
    if (ea) std::rethrow_exception(ea);
    if (jb.error) std::rethrow_exception(jb.error);
}

namespace detail {
template <class F>
void split_for(std::size_t lo, std::size_t hi, std::size_t grain, F& f) {
    while (hi - lo > grain) {
        std::size_t mid = lo + (hi - lo) / 2;
        join([&] { split_for(lo, mid, grain, f); }, [&] { split_for(mid, hi, grain, f); });
        return;
    }
    f(lo, hi);
}
}  // namespace detail

// Default piece size: about eight pieces per worker.
inline std::size_t default_grain(std::size_t n) {
    std::size_t pieces = num_threads() * 8;
    std::size_t g = n / (pieces ? pieces : 1);
    return g ? g : 1;
}

// Call f(lo, hi) over disjoint sub-ranges covering [begin, end), each at most
// `grain` long (0 picks a default).  Runs inline when the range is one piece.
template <class F>
void parallel_for(std::size_t begin, std::size_t end, std::size_t grain, F&& f) {
    if (end <= begin) return;
    std::size_t n = end - begin;
    if (grain == 0) grain = default_grain(n);
    if (n <= grain) {
        f(begin, end);
        return;
    }
    detail::split_for(begin, end, grain, f);
}

// Call f(i) for every i in [0, n) in parallel; one task per index at most.
template <class F>
void parallel_each(std::size_t n, F&& f) {
    parallel_for(0, n, 1, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i) f(i);
    });
}

// Results of f(i) for i in [0, n), in index order, computed in parallel.
template <class R, class F>
std::vector<R> parallel_map(std::size_t n, F&& f) {
    std::vector<R> out(n);
    parallel_each(n, [&](std::size_t i) { out[i] = f(i); });
    return out;
}

}  // namespace tarvex::pool
