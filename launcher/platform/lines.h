// lines.h - walking the lines of a text held in memory: every text file this program
// reads (configuration, file list, update cache, news, key records, user-dirs.dirs) is
// split the same way.
#pragma once

#include <string_view>

namespace platform {

// Hands out the lines of `text` one by one: split at LF, one CR before the LF removed (so
// CR LF files read like LF files; `Keep` leaves it, for files this program writes itself
// whose fields may end in CR), the last line read even without its LF. A text that ends
// in LF has no empty line after it; "" has no lines at all.
class LineReader {
  public:
    enum class CarriageReturn { Drop, Keep };
    explicit LineReader(std::string_view text, CarriageReturn cr = CarriageReturn::Drop)
        : rest_(text), dropCarriageReturn_(cr == CarriageReturn::Drop) {}

    // False once every line was handed out.
    bool next(std::string_view& line) {
        if (rest_.empty()) return false;
        const size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        if (dropCarriageReturn_ && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

  private:
    std::string_view rest_;
    bool dropCarriageReturn_;
};

} // namespace platform
