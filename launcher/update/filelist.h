// filelist.h - the update server's file list "dosyalar.txt", the local update cache
// "guncelleme.cache", the path rule for list entries, and list paths as URLs.
//
// Paths are UTF-8, relative to the game folder (the working folder), '/'-separated.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct FileEntry {
    std::string hash; // 64 lowercase hex characters in a list; last known on disk in the cache
    int64_t size = 0;
    std::string path;
};

using FileList = std::vector<FileEntry>;

// One entry of a list as it stands in the list's bytes, which must outlive it: a large
// list checked this way costs no allocation per entry.
struct ListedFile {
    std::string_view hash;
    std::string_view path;
    int64_t size = 0;
};

struct UpdateCache {
    std::map<std::string, FileEntry> entries; // keyed by path, byte-wise order
    std::map<std::string, int64_t> mtimes;    // path -> last-write time (fileModTime)
};

inline constexpr const char* kFileListName = "dosyalar.txt";
inline constexpr const char* kUpdateCacheFile = "guncelleme.cache";
inline constexpr const char* kListRejectedHeader = "Güncelleme listesi bozuk";
inline constexpr const char* kListRejectedLine = "Güncelleme listesinde geçersiz satır";

// Parses a downloaded list. Each "surum " line's text is handed to `onVersion` as soon
// as it is read (even when a later line rejects the list). Returns true with the entries
// in `outList`, or false with `outError` set to kListRejectedHeader or kListRejectedLine
// (`outList` is then empty).
bool parseFileList(std::string_view body, FileList& outList, std::string& outError,
                   const std::function<void(const std::string&)>& onVersion);
// The same rules and results, the entries pointing into `body`.
bool scanFileList(std::string_view body, std::vector<ListedFile>& outList, std::string& outError,
                  const std::function<void(const std::string&)>& onVersion);
// The bytes of a list, as the publisher writes it: the header line, a "surum " line when
// `version` is given, then "hash size path" LF per entry in the order given.
std::string fileListText(const FileList& entries, const std::string* version);

// False for an empty path, a leading '/' or '\', any ':' or NUL byte, or an empty, "."
// or ".." segment, where both '/' and '\' separate segments (so "a\..\b" is refused on
// every platform), a path longer than 4096 bytes or a segment longer than 255 bytes.
// A single trailing separator is allowed.
bool isSafeRelativePath(std::string_view path);

// Letters, digits and - . / _ ~ stay; every other byte becomes %XX (upper-case hex).
std::string urlEncodePath(std::string_view path);

// Reads the cache file; missing or malformed content gives an empty or partial cache.
UpdateCache loadUpdateCache(const std::string& file = kUpdateCacheFile);
// The same rules on the file's bytes. Pure; any thread.
UpdateCache parseUpdateCache(std::string_view text);
// Writes "size time hash path" LF per entry in path order (a missing time is written,
// and stored, as 0), through a temporary file renamed over the old one. An entry whose
// path holds a line feed could not be read back and is left out. Returns false when it
// could not be written; the old file then stays whole.
bool saveUpdateCache(UpdateCache& cache, const std::string& file = kUpdateCacheFile);
// The bytes saveUpdateCache writes (missing times are created as 0, as there).
std::string updateCacheText(UpdateCache& cache);

// The update cache as a pass uses it: the file's bytes held once, each record pointing
// into them, in path order; and beside them, in `learned`, the records the pass adds or
// replaces. Saving writes what saveUpdateCache would write for the two merged (a learned
// record wins), and writes nothing when the file already holds exactly those bytes. One
// thread at a time.
class CacheTable {
  public:
    struct Record {
        std::string_view hash;
        int64_t size = 0;
        int64_t time = 0;
    };

    // Reads `file` as loadUpdateCache does (missing or unreadable: no records).
    void load(const std::string& file = kUpdateCacheFile);
    // The same from bytes in memory, as if a file held them.
    void adopt(std::string text);

    // The record read for `path`: false when there is none. Lists mostly run in the
    // cache's order, so the record after the last one found is tried before a search; a
    // file in the writer's form is indexed only once a lookup leaves its order.
    bool find(std::string_view path, Record& out);

    // Records added or replaced since loading (Installer::finish writes here too).
    UpdateCache learned;

    // The merged bytes.
    std::string text();
    // True when the loaded file holds exactly text() already.
    bool unchangedOnDisk() const;
    // Writes text() as saveUpdateCache does, unless unchangedOnDisk(). False when it could
    // not be written; the old file then stays whole.
    bool save(const std::string& file = kUpdateCacheFile);

  private:
    struct Line {
        std::string_view path;
        Record record;
    };
    void buildIndex();

    std::string bytes_;       // the file as read
    bool canonical_ = false;  // bytes_ is what the writer gives for its records
    bool indexed_ = false;    // lines_ holds every record (else bytes_ is read at cursor_)
    size_t cursor_ = 0;       // the next line of bytes_ while not indexed
    std::vector<Line> lines_; // one per path, in byte-wise path order
    size_t hint_ = 0;         // where the next find in lines_ looks first
};

// Last-write time, 100 ns ticks since 1601-01-01 UTC; 0 when it cannot be read.
int64_t fileModTime(const std::string& path);
// Size of a regular file (links followed); -1 otherwise.
int64_t fileSizeOnDisk(const std::string& path);
