// temporary_names.h - the names writeFileAtomically gives its temporary files,
// "<target>.yaz-<process>-<counter>", shared by both platform files (platform/ only).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr const char* kTemporaryMark = ".yaz-";

// The writing process's id in a name for which isAtomicWriteTemporary holds; -1 when the
// number is out of range for a process id (such a file can only be abandoned).
int64_t atomicWriteTemporaryWriter(const std::string& name);

} // namespace platform
