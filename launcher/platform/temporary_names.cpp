// temporary_names.cpp - recognising writeFileAtomically's temporary files, the same on
// every platform (pure text; no operating-system call).
#include "platform/temporary_names.h"

#include "platform/platform.h"

#include <cstring>

namespace platform {

bool isAtomicWriteTemporary(const std::string& name) {
    size_t mark = name.rfind(kTemporaryMark);
    if (mark == std::string::npos || mark == 0) return false;
    size_t at = mark + std::strlen(kTemporaryMark);
    auto digits = [&](char stop) {
        size_t start = at;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9')
            ++at;
        if (at == start) return false;
        if (stop == '\0') return at == name.size();
        if (at >= name.size() || name[at] != stop) return false;
        ++at;
        return true;
    };
    return digits('-') && digits('\0');
}

int64_t atomicWriteTemporaryWriter(const std::string& name) {
    // The process id sits between the mark and the next '-'.
    size_t mark = name.rfind(kTemporaryMark) + std::strlen(kTemporaryMark);
    size_t dash = name.find('-', mark);
    if (dash == std::string::npos || dash - mark > 10) return -1; // beyond any 32-bit id
    int64_t pid = 0;
    for (size_t i = mark; i < dash; ++i)
        pid = pid * 10 + (name[i] - '0');
    return pid > 0 && pid <= 0xFFFFFFFFLL ? pid : -1;
}

} // namespace platform
