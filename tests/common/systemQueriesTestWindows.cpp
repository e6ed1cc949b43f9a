#include <windows.h>

namespace kiro::test {

void ClearLastSystemError() { SetLastError(ERROR_SUCCESS); }

}  // namespace kiro::test
