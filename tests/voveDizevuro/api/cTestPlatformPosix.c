/* POSIX declarations under strict C99. */
#define _POSIX_C_SOURCE 200809L

#include "tests/voveDizevuro/api/cTestPlatform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

void TestSleepMs(int ms) {
    struct timespec duration;
    duration.tv_sec = ms / 1000;
    duration.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&duration, NULL);
}

void* TestPinModule(const char* fileName) { return dlopen(fileName, RTLD_NOW | RTLD_LOCAL); }

void* TestFindSymbol(void* module, const char* name) { return dlsym(module, name); }

struct TestLock {
    pthread_mutex_t mutex;
};

TestLock* TestLockCreate(void) {
    TestLock* lock = (TestLock*)malloc(sizeof(TestLock));
    if (lock != NULL) {
        pthread_mutex_init(&lock->mutex, NULL);
    }
    return lock;
}

void TestLockAcquire(TestLock* lock) { pthread_mutex_lock(&lock->mutex); }

void TestLockRelease(TestLock* lock) { pthread_mutex_unlock(&lock->mutex); }

void TestLockDestroy(TestLock* lock) {
    pthread_mutex_destroy(&lock->mutex);
    free(lock);
}
