#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace spindle::test {

// What one run of spindle-cli gave.
struct CliRun {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string ReadFile(const std::filesystem::path& path);

// Runs `program` as a shell script would, in `folder` (which receives
// out.txt and err.txt), with the settings folder `folder`/config, the
// virtual clock, no traces, no terminal on standard input, and this
// process's environment otherwise. With `timeoutSeconds` above 0 a run
// that has not ended by then is killed and gives status 124.
CliRun RunCli(const std::string& program, const std::filesystem::path& folder, const std::vector<std::string>& args,
              int timeoutSeconds = 0);

}  // namespace spindle::test
