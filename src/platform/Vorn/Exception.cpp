#include "Vorn/Exception.h"

#include <cstdio>
#include <cstdlib>

namespace Vorn {

namespace {
AssertionHandler currentHandler = nullptr;
}

AssertionHandler assertionHandlerIs(AssertionHandler handler) noexcept {
  AssertionHandler old = currentHandler;
  currentHandler = handler;
  return old;
}

void throwingAssertionHandler(char const* condition, char const* file, int line) {
  throw AssertionFailure(condition, std::string(file) + ":" + std::to_string(line));
}

void assertionFailed(char const* condition, char const* file, int line) {
  if (!condition) condition = "(no condition text)";
  if (!file) file = "?";
  if (currentHandler) currentHandler(condition, file, line);
  std::fprintf(stderr, "assertion failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

}  // namespace Vorn
