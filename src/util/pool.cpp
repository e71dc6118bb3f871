#include "util/pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tarvex::pool {
namespace {

struct Worker {
    std::mutex mu;
    std::deque<Job*> jobs;  // owner works at the back, thieves take the front
};

class Pool {
public:
    explicit Pool(std::size_t n) : workers_(n) {
        for (std::size_t i = 0; i < n; ++i) workers_[i] = std::make_unique<Worker>();
        threads_.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            threads_.emplace_back([this, i] { worker_main(i); });
            threads_.back().detach();  // the pool lives until the process exits
        }
    }

    std::size_t size() const noexcept { return workers_.size(); }

    void push_local(std::size_t self, Job* job) {
        {
            std::lock_guard<std::mutex> lk(workers_[self]->mu);
            workers_[self]->jobs.push_back(job);
        }
        signal();
    }

    void push_injected(Job* job) {
        {
            std::lock_guard<std::mutex> lk(inject_mu_);
            injected_.push_back(job);
        }
        signal();
    }

    bool take_back(std::size_t self, Job* job) noexcept {
        Worker& w = *workers_[self];
        std::lock_guard<std::mutex> lk(w.mu);
        if (!w.jobs.empty() && w.jobs.back() == job) {
            w.jobs.pop_back();
            return true;
        }
        return false;
    }

    // Own deque first (newest), then steal the oldest work of the others,
    // then jobs handed in from outside the pool.
    Job* find_work(std::size_t self) {
        {
            Worker& w = *workers_[self];
            std::lock_guard<std::mutex> lk(w.mu);
            if (!w.jobs.empty()) {
                Job* j = w.jobs.back();
                w.jobs.pop_back();
                return j;
            }
        }
        std::size_t n = workers_.size();
        for (std::size_t k = 1; k < n; ++k) {
            Worker& v = *workers_[(self + k) % n];
            std::lock_guard<std::mutex> lk(v.mu);
            if (!v.jobs.empty()) {
                Job* j = v.jobs.front();
                v.jobs.pop_front();
                return j;
            }
        }
        std::lock_guard<std::mutex> lk(inject_mu_);
        if (!injected_.empty()) {
            Job* j = injected_.front();
            injected_.pop_front();
            return j;
        }
        return nullptr;
    }

    // Wake sleepers after new work was queued or a job finished.
    void signal() {
        epoch_.fetch_add(1, std::memory_order_seq_cst);
        if (sleepers_.load(std::memory_order_seq_cst) > 0) {
            std::lock_guard<std::mutex> lk(sleep_mu_);
            sleep_cv_.notify_all();
        }
    }

    // Sleep until the epoch moves past `seen` or `job` (if any) is done.
    void sleep(std::uint64_t seen, const Job* job) {
        std::unique_lock<std::mutex> lk(sleep_mu_);
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        sleep_cv_.wait(lk, [&] {
            return epoch_.load(std::memory_order_seq_cst) != seen ||
                   (job && job->done.load(std::memory_order_acquire));
        });
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }

    void wait_helping(std::size_t self, Job* job) {
        while (!job->done.load(std::memory_order_acquire)) {
            std::uint64_t seen = epoch_.load(std::memory_order_seq_cst);
            if (Job* j = find_work(self)) {
                detail::execute(j);
                continue;
            }
            sleep(seen, job);
        }
    }

    void wait_external(Job* job) {
        while (!job->done.load(std::memory_order_acquire)) {
            std::uint64_t seen = epoch_.load(std::memory_order_seq_cst);
            if (job->done.load(std::memory_order_acquire)) break;
            sleep(seen, job);
        }
    }

private:
    void worker_main(std::size_t self);

    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;
    std::mutex inject_mu_;
    std::deque<Job*> injected_;
    std::mutex sleep_mu_;
    std::condition_variable sleep_cv_;
    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<int> sleepers_{0};
};

// The worker index of the calling thread, or -1 outside the pool; together with
// the pool it belongs to (a forked child gets a new pool).
thread_local Pool* tl_pool = nullptr;
thread_local std::size_t tl_index = 0;

void Pool::worker_main(std::size_t self) {
    tl_pool = this;
    tl_index = self;
    for (;;) {
        std::uint64_t seen = epoch_.load(std::memory_order_seq_cst);
        if (Job* j = find_work(self)) {
            detail::execute(j);
            continue;
        }
        sleep(seen, nullptr);
    }
}

// CPUs this process may use: the affinity mask, bounded by a cgroup CPU quota.
std::size_t available_cpus() {
    std::size_t n = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) n = static_cast<std::size_t>(CPU_COUNT(&set));
    if (n == 0) n = std::max(1u, std::thread::hardware_concurrency());

    auto quota_cpus = [](long long quota, long long period) -> std::size_t {
        if (quota <= 0 || period <= 0) return 0;
        return static_cast<std::size_t>((quota + period - 1) / period);
    };
    std::size_t limit = 0;
    {  // cgroup v2: "max 100000" or "200000 100000"
        std::ifstream f("/sys/fs/cgroup/cpu.max");
        std::string q, p;
        if (f >> q >> p && q != "max") limit = quota_cpus(std::atoll(q.c_str()), std::atoll(p.c_str()));
    }
    if (limit == 0) {  // cgroup v1
        std::ifstream fq("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
        std::ifstream fp("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
        long long q = 0, p = 0;
        if (fq >> q && fp >> p) limit = quota_cpus(q, p);
    }
    if (limit > 0 && limit < n) n = limit;
    return std::max<std::size_t>(1, n);
}

std::size_t configured_threads() {
    if (const char* env = std::getenv("TARVEX_NUM_THREADS")) {
        std::size_t v = 0;
        const char* end = env + std::char_traits<char>::length(env);
        auto r = std::from_chars(env, end, v);
        if (r.ec == std::errc() && r.ptr == end && v > 0) return std::min<std::size_t>(v, 1024);
    }
    return available_cpus();
}

std::mutex g_create_mu;
std::atomic<Pool*> g_pool{nullptr};

void forget_pool_in_child() {
    // The worker threads do not exist in a forked child; leave the old pool
    // (its locks may be held) and build a fresh one on next use.
    g_pool.store(nullptr);
    tl_pool = nullptr;
    new (&g_create_mu) std::mutex();
}

Pool& instance() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p) return *p;
    std::lock_guard<std::mutex> lk(g_create_mu);
    p = g_pool.load(std::memory_order_relaxed);
    if (!p) {
        static bool atfork_installed = [] {
            pthread_atfork(nullptr, nullptr, forget_pool_in_child);
            return true;
        }();
        (void)atfork_installed;
        p = new Pool(configured_threads());
        g_pool.store(p, std::memory_order_release);
    }
    return *p;
}

}  // namespace

std::size_t num_threads() { return instance().size(); }

namespace detail {

bool in_worker() noexcept {
    Pool* p = g_pool.load(std::memory_order_acquire);
    return p != nullptr && tl_pool == p;
}

void push(Job* job) {
    Pool& p = instance();
    if (tl_pool == &p)
        p.push_local(tl_index, job);
    else
        p.push_injected(job);
}

bool take_back(Job* job) noexcept { return instance().take_back(tl_index, job); }

void wait_helping(Job* job) { instance().wait_helping(tl_index, job); }

void run_external(Job* job) {
    Pool& p = instance();
    p.push_injected(job);
    p.wait_external(job);
}

void execute(Job* job) noexcept {
    try {
        job->exec(job);
    } catch (...) {
        job->error = std::current_exception();
    }
    // Nothing of the job may be touched after `done` is set: its owner may
    // return and free it at once.
    job->done.store(true, std::memory_order_release);
    if (g_pool.load(std::memory_order_acquire)) instance().signal();
}

}  // namespace detail
}  // namespace tarvex::pool
