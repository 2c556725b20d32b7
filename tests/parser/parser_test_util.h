#pragma once
// Helpers shared by the formula parser tests.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "parser/parser.h"

namespace ortavia::test {

// The record thrown by f, or a record with id "none" when f does not throw.
inline MTExcepData CaughtError(const std::function<void()>& f) {
  try {
    f();
  } catch (const MTChainedExceptions& e) {
    return e.data();
  }
  MTExcepData none;
  none.id = "none";
  return none;
}

// The record thrown while compiling text with a fresh parser.
inline MTExcepData CompileError(const std::string& text) {
  MTParser p;
  return CaughtError([&] { p.compileAndEvaluate(text); });
}

inline double Eval(const std::string& text) {
  MTParser p;
  return p.compileAndEvaluate(text);
}

}  // namespace ortavia::test
