#include "tests/voveDizevuro/api/cTestPlatform.h"

#include <stdlib.h>
#include <windows.h>

void TestSleepMs(int ms) { Sleep((DWORD)ms); }

void* TestPinModule(const char* fileName) { return (void*)LoadLibraryA(fileName); }

void* TestFindSymbol(void* module, const char* name) { return (void*)GetProcAddress((HMODULE)module, name); }

struct TestLock {
    CRITICAL_SECTION section;
};

TestLock* TestLockCreate(void) {
    TestLock* lock = (TestLock*)malloc(sizeof(TestLock));
    if (lock != NULL) {
        InitializeCriticalSection(&lock->section);
    }
    return lock;
}

void TestLockAcquire(TestLock* lock) { EnterCriticalSection(&lock->section); }

void TestLockRelease(TestLock* lock) { LeaveCriticalSection(&lock->section); }

void TestLockDestroy(TestLock* lock) {
    DeleteCriticalSection(&lock->section);
    free(lock);
}
