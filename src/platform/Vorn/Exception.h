// Vorn exceptions and assertions.
//
// - MutatorNullArgumentException: a mutator was given a null pointer. It names
//   the type and the attribute; the mutator changes nothing before raising it.
// - ReinstantiationException: an instantiating mutator was asked to build an
//   object under a key that already holds one built from other arguments.
// - VORN_ASSERT(cond, text) / VORN_ASSERT_AT(cond, text, file, line): a broken invariant. The failure names the
//   condition (`text`, or the condition's own source text) and where it was
//   checked. By default it prints and aborts; tests may install a handler that
//   throws AssertionFailure instead, to check that an assertion fires.
//
//   if (!join) throw Vorn::MutatorNullArgumentException("Irb::...::VlanSm", "groupMembership");
//   VORN_ASSERT(key == keyOf(value), "fwkKey() == KeyFunktor()( _value )");
#pragma once

#include <string>

#include "Corvo/Exception.h"

namespace Vorn {

class MutatorNullArgumentException : public Corvo::Exception {
 public:
  MutatorNullArgumentException(std::string type, std::string attribute)
      : Corvo::Exception("null argument passed to mutator of attribute '" + attribute +
                         "' of type '" + type + "'"),
        type_(std::move(type)),
        attribute_(std::move(attribute)) {}
  std::string const& type() const noexcept { return type_; }
  std::string const& attribute() const noexcept { return attribute_; }

 private:
  std::string type_;
  std::string attribute_;
};

class ReinstantiationException : public Corvo::Exception {
 public:
  ReinstantiationException(std::string attribute, std::string what)
      : Corvo::Exception("re-instantiation of attribute '" + attribute + "' with a different " + what),
        attribute_(std::move(attribute)) {}
  std::string const& attribute() const noexcept { return attribute_; }

 private:
  std::string attribute_;
};

class AssertionFailure : public Corvo::Exception {
 public:
  AssertionFailure(std::string condition, std::string where)
      : Corvo::Exception("assertion failed: " + condition + " (" + where + ")"),
        condition_(std::move(condition)) {}
  std::string const& condition() const noexcept { return condition_; }

 private:
  std::string condition_;
};

using AssertionHandler = void (*)(char const* condition, char const* file, int line);

// Installs the handler a failed VORN_ASSERT calls; null restores the default
// (print to standard error and abort). Returns the previous handler.
AssertionHandler assertionHandlerIs(AssertionHandler handler) noexcept;
// A handler that throws AssertionFailure, for tests.
void throwingAssertionHandler(char const* condition, char const* file, int line);

[[noreturn]] void assertionFailed(char const* condition, char const* file, int line);

namespace detail {
// The text a failed VORN_ASSERT reports: the given text, or the condition's
// source text when none (null or empty) was given.
constexpr char const* assertionText(char const* text, char const* source) noexcept {
  return text && *text ? text : source;
}
}  // namespace detail

}  // namespace Vorn

#define VORN_ASSERT(cond, text) VORN_ASSERT_AT(cond, text, __FILE__, __LINE__)

// VORN_ASSERT reporting the location a module gives itself (as its trace
// statements do) instead of the compiler's file and line.
#define VORN_ASSERT_AT(cond, text, file, line)                                                   \
  do {                                                                                           \
    if (!(cond)) ::Vorn::assertionFailed(::Vorn::detail::assertionText(text, #cond), file, line); \
  } while (0)
