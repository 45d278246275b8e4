#pragma once
// Clang's thread-safety analysis, spelled so that GCC sees nothing. Every
// mutex-guarded field says which mutex guards it (CADRIO_GUARDED_BY), every
// function that expects a lock held says so (CADRIO_REQUIRES), and every
// function that must not be entered with a lock held says that too
// (CADRIO_EXCLUDES). Clang builds run with -Wthread-safety -Werror.
//
// Standard mutexes carry no capability attributes in libstdc++, so guarded
// state uses cadrio::Mutex and cadrio::LockGuard / cadrio::UniqueLock below:
// thin wrappers with the attributes the analysis needs and nothing else.

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define CADRIO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CADRIO_THREAD_ANNOTATION(x)
#endif

#define CADRIO_CAPABILITY(x) CADRIO_THREAD_ANNOTATION(capability(x))
#define CADRIO_SCOPED_CAPABILITY CADRIO_THREAD_ANNOTATION(scoped_lockable)
#define CADRIO_GUARDED_BY(x) CADRIO_THREAD_ANNOTATION(guarded_by(x))
#define CADRIO_PT_GUARDED_BY(x) CADRIO_THREAD_ANNOTATION(pt_guarded_by(x))
#define CADRIO_ACQUIRED_BEFORE(...) CADRIO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define CADRIO_ACQUIRED_AFTER(...) CADRIO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define CADRIO_REQUIRES(...) CADRIO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define CADRIO_ACQUIRE(...) CADRIO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define CADRIO_RELEASE(...) CADRIO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define CADRIO_TRY_ACQUIRE(...) CADRIO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define CADRIO_EXCLUDES(...) CADRIO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define CADRIO_RETURN_CAPABILITY(x) CADRIO_THREAD_ANNOTATION(lock_returned(x))
#define CADRIO_NO_THREAD_SAFETY_ANALYSIS CADRIO_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace cadrio {

/// std::mutex with the capability attribute.
class CADRIO_CAPABILITY("mutex") Mutex {
public:
    void lock() CADRIO_ACQUIRE() { mutex_.lock(); }
    void unlock() CADRIO_RELEASE() { mutex_.unlock(); }
    bool try_lock() CADRIO_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    /// For condition variables: the analysis cannot follow a wait's
    /// unlock and relock, so waits go through UniqueLock.
    std::mutex& native() noexcept { return mutex_; }

private:
    std::mutex mutex_;
};

/// std::lock_guard for Mutex.
class CADRIO_SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(Mutex& mutex) CADRIO_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~LockGuard() CADRIO_RELEASE() { mutex_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Mutex& mutex_;
};

/// std::unique_lock for Mutex, usable with std::condition_variable_any
/// (it has lock() and unlock()). Held from construction to destruction as
/// far as the analysis is concerned; a wait unlocks and relocks inside.
class CADRIO_SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(Mutex& mutex) CADRIO_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~UniqueLock() CADRIO_RELEASE() {
        if (owns_) mutex_.unlock();
    }
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    void lock() CADRIO_ACQUIRE() {
        mutex_.lock();
        owns_ = true;
    }
    void unlock() CADRIO_RELEASE() {
        owns_ = false;
        mutex_.unlock();
    }

private:
    Mutex& mutex_;
    bool owns_ = true;
};

}  // namespace cadrio
