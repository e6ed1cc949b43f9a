#include <cerrno>

namespace kiro::test {

void ClearLastSystemError() { errno = 0; }

}  // namespace kiro::test
