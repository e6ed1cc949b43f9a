#ifndef KIRO_C_TEST_PLATFORM_H
#define KIRO_C_TEST_PLATFORM_H

/* What the C tests need from the operating system, one file per platform. */

void TestSleepMs(int ms);

/* Loads a library by its bare file name through the system search (the loader's search path on
   Linux, PATH on Windows) and keeps it loaded for the rest of the process. The plug-in loader
   later gets this very module back. Null when it cannot be found. */
void* TestPinModule(const char* fileName);
/* An exported symbol of a pinned module, or null. */
void* TestFindSymbol(void* module, const char* name);

/* A mutex between the test thread and the engine's processing thread. */
typedef struct TestLock TestLock;
TestLock* TestLockCreate(void);
void TestLockAcquire(TestLock* lock);
void TestLockRelease(TestLock* lock);
void TestLockDestroy(TestLock* lock);

#endif
