#pragma once
// Test environment: every test process runs with HOME and the XDG folders in a private temporary
// folder, so no test ever reads or writes the real home.
#include <filesystem>
#include <string>

namespace ortavia::test {

// The private home of this test process (created by the test main).
const std::filesystem::path& PrivateHome();

// Points HOME and XDG_CONFIG_HOME / XDG_DATA_HOME / XDG_CACHE_HOME / XDG_RUNTIME_DIR at a fresh
// temporary folder. Called once by the test main before any test runs.
void IsolateHome();

// A fresh empty folder below the private home, unique per call.
std::filesystem::path MakeTempDir(const std::string& stem = "t");

}  // namespace ortavia::test
