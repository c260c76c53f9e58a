// fake_program.h - a stand-in for a desktop program (xdg-open, zenity) put first on PATH
// for the life of the object. Each call is appended to a log: "argc=N", then every
// argument between angle brackets, one a line.
#pragma once

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

class FakeProgram {
  public:
    explicit FakeProgram(const std::string& name) {
        const std::string script = folder_ / name;
        writeFile(script, "#!/bin/sh\n{ printf 'argc=%s\\n' \"$#\"; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; "
                          "done; } >> '" + log() + "'\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    std::string log() const { return folder_ / "calls.log"; }
    // Every call so far.
    std::string calls() const { return readFile(log()); }

  private:
    TempFolder folder_;
    ScopedEnv path_{"PATH", (folder_.path() + ":" + std::getenv("PATH")).c_str()};
};

} // namespace testsupport
