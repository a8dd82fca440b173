// Keeps every test in this binary away from the real settings file: before
// any test runs, the settings folder is pointed at a temporary folder that is
// removed afterwards. Tests that need their own folder set it themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class SettingsSandbox : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "spindle-settings-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
        ::setenv("SPINDLE_CONFIG_DIR", folder_.empty() ? "/nonexistent/spindle-settings" : folder_.c_str(), 1);
    }
    void TearDown() override {
        if (folder_.empty()) return;
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }

private:
    std::string folder_;
};

[[maybe_unused]] ::testing::Environment* const kSandbox =
    ::testing::AddGlobalTestEnvironment(new SettingsSandbox);

}  // namespace
