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

// Last-write time, 100 ns ticks since 1601-01-01 UTC; 0 when it cannot be read.
int64_t fileModTime(const std::string& path);
// Size of a regular file (links followed); -1 otherwise.
int64_t fileSizeOnDisk(const std::string& path);
