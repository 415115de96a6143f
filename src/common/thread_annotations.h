// Clang's thread-safety attributes, so that the compiler checks which lock guards what
// (-Wthread-safety). Other compilers see nothing.
#pragma once

#if defined(__clang__)
#define RAVELIN_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define RAVELIN_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) RAVELIN_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY RAVELIN_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) RAVELIN_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) RAVELIN_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) RAVELIN_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) RAVELIN_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) RAVELIN_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) RAVELIN_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define EXCLUDES(...) RAVELIN_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) RAVELIN_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) RAVELIN_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS RAVELIN_THREAD_ATTRIBUTE(no_thread_safety_analysis)
