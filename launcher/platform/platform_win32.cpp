// platform_win32.cpp - platform.h for Windows.
//
// Text is UTF-8 everywhere inside the launcher; only the wide ("W") calls are used, and
// every path and text is converted to UTF-16 at the boundary, so a player folder under
// C:\Users\Gökhan\ works like any other. Paths handed back use '/' as the separator,
// as platform.h promises; Windows accepts '/' in every call made here.
//
// Index
//   ---- tunables ----
//   ---- helpers ----
//   ---- program and folders ----
//   ---- files ----
//   ---- processes ----
//   ---- desktop ----
//   ---- terminal ----
//   ---- memory ----
//   ---- shared libraries ----
#include "platform/platform.h"
#include "platform/temporary_names.h"
#include "platform/text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <knownfolders.h>
#include <malloc.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <io.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace platform {

// ---- tunables ----

namespace {

constexpr const char* kLauncherFileName = "MorlakenLauncher.exe";
constexpr const wchar_t* kErrorCaption = L"Morlaken Launcher";
constexpr const char* kShellLinkExtension = ".lnk";
constexpr const wchar_t* kLockNamePrefix = L"Local\\MorlakenUpdateLock-";
constexpr DWORD kTerminatePollMs = 10;
constexpr int kFreshFileAttempts = 16; // createFreshFile: tries while something keeps reappearing
constexpr DWORD kReadChunkBytes = 65536;
constexpr DWORD kWriteChunkBytes = 1u << 30; // WriteFile takes a 32-bit count

// Process-wide by nature: two threads that write temporaries beside the same file at once
// must get different names, whoever owns the file.
std::atomic<unsigned> tempCounter{0};

// ---- helpers ----

// UTF-8 to UTF-16; invalid bytes become U+FFFD (Windows' own rule), never a cut string.
std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string narrow(const std::wstring& text) {
    return narrow(text.data(), text.size());
}

// The wide form of a path for a system call: '/' becomes '\', which every call accepts
// and the "\\?\"-free long-path rules need.
std::wstring systemPath(const std::string& path) {
    std::wstring w = widen(path);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return w;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool readAttributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& out) {
    return !path.empty() &&
           ::GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &out) != 0;
}

int64_t ticksOf(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

HANDLE handleOf(int64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

// One argument quoted the way the C runtime's command-line parser splits it again:
// backslashes double only before a quote, and a quote is escaped.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
            line += L'"';
            backslashes = 0;
        } else {
            line.append(backslashes, L'\\');
            line += c;
            backslashes = 0;
        }
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::wstring commandLine(const std::string& program, const std::vector<std::string>& args) {
    std::wstring line;
    appendQuoted(line, systemPath(program));
    for (const std::string& a : args) {
        line += L' ';
        appendQuoted(line, widen(a));
    }
    return line;
}

// Overwrites a wide text that may hold a ticket before its memory goes back.
void wipe(std::wstring& text) {
    volatile wchar_t* p = text.data();
    for (size_t i = 0; i < text.size(); ++i)
        p[i] = L'\0';
    text.clear();
}

// The children this process started and has not collected yet, by process id.
std::mutex childrenMutex;
std::map<DWORD, HANDLE> children;

HANDLE childHandle(ProcessId process) {
    std::lock_guard<std::mutex> lock(childrenMutex);
    auto it = children.find(static_cast<DWORD>(process));
    return it == children.end() ? nullptr : it->second;
}

void forgetChild(ProcessId process) {
    std::lock_guard<std::mutex> lock(childrenMutex);
    auto it = children.find(static_cast<DWORD>(process));
    if (it == children.end()) return;
    ::CloseHandle(it->second);
    children.erase(it);
}

// The exit code of a finished child, collected (its handle closed).
int collectChild(ProcessId process, HANDLE h) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(h, &code)) code = 0;
    forgetChild(process);
    return static_cast<int>(code);
}

// The security identifier of the user a process runs as (its token's user), as bytes;
// empty when it cannot be read (another user's process mostly refuses the question).
std::string processUser(HANDLE process) {
    std::string sid;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return sid;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
        if (::IsValidSid(user)) sid.assign(static_cast<const char*>(user), ::GetLengthSid(user));
    }
    ::CloseHandle(token);
    return sid;
}

// True when the process with id `pid` runs as `user` (processUser of ours).
bool runsAs(DWORD pid, const std::string& user) {
    if (user.empty()) return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    const bool same = processUser(process) == user;
    ::CloseHandle(process);
    return same;
}

BOOL CALLBACK closeWindowOf(HWND window, LPARAM process) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(process)) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// What an entry with attributes `a` is, as entryType reports it.
EntryType typeOfAttributes(DWORD a) {
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return EntryType::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return EntryType::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return EntryType::Other;
    return EntryType::File;
}

} // namespace

// ---- program and folders ----

const char* launcherFileName() {
    return kLauncherFileName;
}

std::string executablePath() {
    // Read by the first call only (a thread-safe static): see platform.h.
    static const std::string path = [] {
        std::wstring buffer(MAX_PATH, L'\0');
        for (;;) {
            DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) return std::string();
            if (n < buffer.size()) return forwardSlashes(narrow(buffer.data(), n));
            if (buffer.size() > 32768) return std::string();
            buffer.resize(buffer.size() * 2);
        }
    }();
    return path;
}

std::vector<std::string> programArguments(int argc, char** argv) {
    std::vector<std::string> out;
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            out.push_back(narrow(wide[i], std::wcslen(wide[i])));
        ::LocalFree(wide);
        return out;
    }
    for (int i = 1; i < argc; ++i)
        out.push_back(argv[i]);
    return out;
}

bool setWorkingFolder(const std::string& folder) {
    return !folder.empty() && ::SetCurrentDirectoryW(systemPath(folder).c_str()) != 0;
}

std::string fullPath(const std::string& path) {
    std::wstring in = systemPath(path.empty() ? std::string(".") : path);
    DWORD n = ::GetFullPathNameW(in.c_str(), 0, nullptr, nullptr);
    if (n == 0) return forwardSlashes(path);
    std::wstring out(n, L'\0');
    n = ::GetFullPathNameW(in.c_str(), n, out.data(), nullptr);
    if (n == 0 || n >= out.size()) return forwardSlashes(path);
    out.resize(n);
    std::string result = forwardSlashes(narrow(out));
    // "C:/x/" keeps no trailing separator, except the root itself ("C:/").
    while (result.size() > 3 && result.back() == '/')
        result.pop_back();
    return result;
}

bool isAbsolutePath(const std::string& path) {
    if (!path.empty() && isSeparator(path[0])) return true; // rooted, or a share
    const bool drive =
        path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive && path[1] == ':' && isSeparator(path[2]);
}

// ---- files ----

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!readAttributes(path, a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow);
}

int64_t fileWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!readAttributes(path, a)) return 0;
    return ticksOf(a.ftLastWriteTime);
}

bool regularFileFacts(const std::string& path, int64_t& outSize, int64_t& outWriteTime) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!readAttributes(path, a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    outSize = static_cast<int64_t>((static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow);
    outWriteTime = ticksOf(a.ftLastWriteTime);
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    // Write-through: the call returns once the rename is on the disk. A running
    // executable cannot be replaced, only renamed away; the updater then sets it aside
    // under ".eski" and renames the new file into the freed name.
    return ::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool deleteFile(const std::string& path) {
    return !path.empty() && ::DeleteFileW(systemPath(path).c_str()) != 0;
}

bool removeEmptyFolder(const std::string& path) {
    if (path.empty()) return false;
    const std::wstring wide = systemPath(path);
    const DWORD a = ::GetFileAttributesW(wide.c_str());
    // A junction or folder link would go itself: only a real folder is asked for here.
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return ::RemoveDirectoryW(wide.c_str()) != 0; // refused unless empty
}

bool createFolders(const std::string& folder) {
    if (folder.empty()) return false;
    for (size_t pos = 0; pos < folder.size(); ++pos) {
        if (!isSeparator(folder[pos]) || pos == 0) continue;
        std::string prefix = folder.substr(0, pos);
        if (prefix.back() == ':') continue;                      // "C:" is a drive, not a folder to make
        ::CreateDirectoryW(systemPath(prefix).c_str(), nullptr); // the final check decides
    }
    ::CreateDirectoryW(systemPath(folder).c_str(), nullptr);
    DWORD a = ::GetFileAttributesW(systemPath(folder).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

EntryType entryType(const std::string& path) {
    if (path.empty()) return EntryType::Missing;
    DWORD a = ::GetFileAttributesW(systemPath(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return EntryType::Missing;
    return typeOfAttributes(a);
}

// The find data carries each entry's attributes: no second call per entry.
bool listFolderEntries(const std::string& folder, std::vector<FolderEntry>& outEntries) {
    std::wstring pattern = systemPath(folder.empty() ? std::string(".") : folder);
    if (pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND; // empty drive root
    do {
        if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
        outEntries.push_back(FolderEntry{narrow(entry.cFileName, std::wcslen(entry.cFileName)),
                                         typeOfAttributes(entry.dwFileAttributes)});
    } while (::FindNextFileW(find, &entry));
    const bool ok = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(find);
    return ok;
}

bool fileIdentity(const std::string& path, FileIdentity& out) {
    if (path.empty()) return false;
    // No access asked for, everything shared: only the file's numbers are read. Backup
    // semantics let a folder be opened too.
    HANDLE file =
        ::CreateFileW(systemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!ok) return false;
    out = FileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

std::FILE* openForReading(const std::string& path, int64_t offset) {
    // "N": not inheritable, like every other handle the launcher opens.
    std::FILE* file = path.empty() ? nullptr : ::_wfopen(systemPath(path).c_str(), L"rbN");
    if (file && offset != 0 && ::_fseeki64(file, offset, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool readWholeFile(const std::string& path, std::string& outBytes) {
    outBytes.clear();
    HANDLE file = ::CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string buffer(kReadChunkBytes, '\0');
    bool ok = true;
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer.data(), kReadChunkBytes, &n, nullptr)) {
            ok = false;
            break;
        }
        if (n == 0) break;
        outBytes.append(buffer.data(), n);
    }
    ::CloseHandle(file);
    return ok;
}

namespace {
bool writeAll(HANDLE file, const void* data, size_t count) {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        DWORD part = static_cast<DWORD>(std::min<size_t>(count, kWriteChunkBytes));
        DWORD written = 0;
        if (!::WriteFile(file, p, part, &written, nullptr) || written == 0) return false;
        p += written;
        count -= written;
    }
    return true;
}
} // namespace

bool writeFileAtomically(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    // Unique per process and call, in the same folder, so the rename never crosses volumes.
    std::string temp = path + kTemporaryMark + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(tempCounter.fetch_add(1));
    std::wstring wideTemp = systemPath(temp);
    HANDLE file = ::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = writeAll(file, data.data(), data.size());
    if (ok && !::FlushFileBuffers(file)) ok = false;
    if (!::CloseHandle(file)) ok = false;
    if (ok && !replaceFile(temp, path)) ok = false;
    if (!ok) {
        ::DeleteFileW(wideTemp.c_str());
        return false;
    }
    return true;
}

bool flushFileToDisk(const std::string& path) {
    // FlushFileBuffers needs write access; sharing everything lets it work on a file
    // another handle still has open for reading.
    HANDLE file = ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = ::FlushFileBuffers(file) != 0;
    ::CloseHandle(file);
    return ok;
}

FileHandle createFreshFile(const std::string& path) {
    if (path.empty()) return -1;
    std::wstring wide = systemPath(path);
    for (int attempt = 0; attempt < kFreshFileAttempts; ++attempt) {
        // CREATE_NEW never opens what is there and never follows a link.
        HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return static_cast<FileHandle>(reinterpret_cast<intptr_t>(file));
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return -1;
        DWORD a = ::GetFileAttributesW(wide.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
            !(a & FILE_ATTRIBUTE_REPARSE_POINT))
            return -1;
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesW(wide.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
        // A link (even one to a folder) is removed itself, not what it points at.
        if (!::DeleteFileW(wide.c_str()) && !::RemoveDirectoryW(wide.c_str()) &&
            ::GetLastError() != ERROR_FILE_NOT_FOUND)
            return -1;
    }
    return -1;
}

FileHandle createOwnerOnlyFile(const std::string& path) {
    if (path.empty()) return -1;
    // CREATE_NEW never opens or follows what is there; the file inherits the folder's access
    // list, which on a player's or studio's profile folder admits only its owner.
    HANDLE file = ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    return static_cast<FileHandle>(reinterpret_cast<intptr_t>(file));
}

FileHandle openForAppend(const std::string& path) {
    if (path.empty()) return -1;
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused below.
    HANDLE file = ::CreateFileW(systemPath(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    // A second link could be any file of the player's, hard-linked in by someone with
    // access to the folder. Who owns the file is left to the folder's access list.
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) ||
        info.nNumberOfLinks != 1 || ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return -1;
    }
    return static_cast<FileHandle>(reinterpret_cast<intptr_t>(file));
}

// Every write goes to the end of the file (an offset of all ones), never to the handle's
// position, which readFileAt's positioned reads move.
bool writeToFile(FileHandle file, const void* data, size_t count) {
    if (file < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        DWORD part = static_cast<DWORD>(std::min<size_t>(count, kWriteChunkBytes));
        DWORD written = 0;
        OVERLAPPED atEnd = {};
        atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
        if (!::WriteFile(handleOf(file), p, part, &written, &atEnd) || written == 0) return false;
        p += written;
        count -= written;
    }
    return true;
}

int64_t readFileAt(FileHandle file, int64_t offset, void* data, size_t count) {
    if (file < 0 || offset < 0) return -1;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD read = 0;
    const DWORD part = static_cast<DWORD>(std::min<size_t>(count, kReadChunkBytes * 16));
    if (::ReadFile(handleOf(file), data, part, &read, &at)) return read;
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

bool setInstalledFileMode(FileHandle file, const std::string&, const std::string&) {
    // Windows has no permission bits to carry over: whether a file runs is its name's
    // business. Only a valid handle is asked for.
    return file >= 0;
}

void startWriteBack(FileHandle) {
    // Windows writes a file's cached pages out on its own; FlushFileBuffers at the close
    // is the only wait.
}

bool closeFile(FileHandle file, bool flushToDisk) {
    if (file < 0) return false;
    HANDLE h = handleOf(file);
    bool ok = !flushToDisk || ::FlushFileBuffers(h) != 0;
    if (!::CloseHandle(h)) ok = false;
    return ok;
}

namespace {
// The update lock of a folder is a named mutex whose name comes from the folder's full
// path (case folded, as Windows compares names): every path to the same folder meets the
// same lock, nothing is written into the folder, and the system releases the mutex when
// its holder ends, however it ends. It lives in the session's own namespace ("Local\\"),
// which other users' sessions do not reach, so no other user can hold it to stall a pass.
// A mutex belongs to the thread that took it, so the same process also keeps its own
// list: a second thread of this process waits like another process would.
struct HeldLock {
    HANDLE mutex = nullptr;
    std::wstring name;
};

std::mutex heldMutex;
std::set<std::wstring> heldNames;

std::wstring lockNameOf(const std::string& folder) {
    std::wstring path = systemPath(fullPath(folder.empty() ? std::string(".") : folder));
    if (!path.empty()) {
        ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    }
    // FNV-1a over the UTF-16 units keeps the name short and free of backslashes.
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : path) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t text[17];
    std::swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return std::wstring(kLockNamePrefix) + text;
}
} // namespace

FolderLock lockFolder(const std::string& folder, const std::atomic<bool>& stop) {
    const std::wstring name = lockNameOf(folder);
    // First the other threads of this process...
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(heldMutex);
            if (heldNames.insert(name).second) break;
        }
        if (stop.load()) return -1;
        ::Sleep(kLockStopCheckMs);
    }
    auto giveBack = [&name] {
        std::lock_guard<std::mutex> lock(heldMutex);
        heldNames.erase(name);
    };
    // ...then the other processes.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) {
        giveBack();
        return kFolderLockUnsupported;
    }
    for (;;) {
        DWORD r = ::WaitForSingleObject(mutex, kLockStopCheckMs);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) break; // abandoned: its holder died
        if (r != WAIT_TIMEOUT || stop.load()) {
            ::CloseHandle(mutex);
            giveBack();
            return -1;
        }
    }
    auto* held = new HeldLock{mutex, name};
    return static_cast<FolderLock>(reinterpret_cast<intptr_t>(held));
}

void unlockFolder(FolderLock lock) {
    if (lock < 0) return;
    auto* held = reinterpret_cast<HeldLock*>(static_cast<intptr_t>(lock));
    ::ReleaseMutex(held->mutex);
    ::CloseHandle(held->mutex);
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        heldNames.erase(held->name);
    }
    delete held;
}

bool isAbandonedWriteTemporary(const std::string& name) {
    if (!isAtomicWriteTemporary(name)) return false;
    const int64_t pid = atomicWriteTemporaryWriter(name);
    if (pid <= 0 || pid > UINT_MAX) return true;
    if (static_cast<DWORD>(pid) == ::GetCurrentProcessId()) return false; // a save of ours may be running
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!h) return ::GetLastError() == ERROR_INVALID_PARAMETER; // no such process
    const bool ended = ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    ::CloseHandle(h);
    return ended;
}

// ---- processes ----

namespace {
struct Started {
    PROCESS_INFORMATION info{};
    DWORD error = 0;
};

Started createProcess(const std::string& executable, const std::vector<std::string>& args, DWORD flags,
                      wchar_t* environment, const std::string& workingFolder, WORD showWindow) {
    Started s;
    std::wstring line = commandLine(executable, args);
    std::wstring program = systemPath(executable);
    std::wstring folder = systemPath(workingFolder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (showWindow != SW_SHOWDEFAULT) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showWindow;
    }
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags, environment,
                          workingFolder.empty() ? nullptr : folder.c_str(), &startup, &s.info)) {
        s.error = ::GetLastError();
        if (s.error == 0) s.error = ERROR_INVALID_PARAMETER;
    }
    return s;
}

// The launcher's environment with `extra` added or replacing (names compared as
// Windows does, ignoring case), as a block for CreateProcessW, sorted as it expects.
std::wstring environmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::wstring> entries;
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* e = own; *e; e += std::wcslen(e) + 1) {
            std::wstring entry = e;
            size_t eq = entry.find(L'=', 1); // "=C:=C:\x" entries begin with '='
            std::wstring name = entry.substr(0, eq);
            bool replaced = false;
            for (const auto& x : extra)
                if (_wcsicmp(widen(x.first).c_str(), name.c_str()) == 0) replaced = true;
            if (!replaced) entries.push_back(std::move(entry));
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const auto& x : extra)
        entries.push_back(widen(x.first) + L"=" + widen(x.second));
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    });
    std::wstring block;
    for (std::wstring& e : entries) {
        block += e;
        block += L'\0';
        wipe(e);
    }
    block += L'\0';
    return block;
}
} // namespace

bool startDetached(const std::string& executable, const std::vector<std::string>& args) {
    if (executable.empty()) return false;
    Started s = createProcess(executable, args, CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS, nullptr, "",
                              SW_SHOWDEFAULT);
    if (s.error != 0) return false;
    ::AllowSetForegroundWindow(s.info.dwProcessId);
    ::CloseHandle(s.info.hThread);
    ::CloseHandle(s.info.hProcess);
    return true;
}

ProcessId startProcess(const std::string& executable, const std::vector<std::string>& args,
                       const ProcessOptions& options, int& outErrorCode) {
    outErrorCode = 0;
    if (executable.empty()) {
        outErrorCode = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    // The child gets its variables through its own block: the ticket never enters the
    // launcher's environment.
    std::wstring environment = environmentBlock(options.extraEnvironment);
    DWORD flags = CREATE_UNICODE_ENVIRONMENT;
    WORD show = SW_SHOWDEFAULT;
    if (options.newSession) {
        // The local server: a console of its own, minimised, not taking the focus.
        flags |= CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
        show = SW_SHOWMINNOACTIVE;
    } else if (options.quiet) {
        flags |= CREATE_NO_WINDOW;
    }
    Started s = createProcess(executable, args, flags, environment.data(), options.workingFolder, show);
    wipe(environment);
    if (s.error != 0) {
        outErrorCode = static_cast<int>(s.error);
        return 0;
    }
    ::AllowSetForegroundWindow(s.info.dwProcessId);
    ::CloseHandle(s.info.hThread);
    std::lock_guard<std::mutex> lock(childrenMutex);
    children[s.info.dwProcessId] = s.info.hProcess;
    return static_cast<ProcessId>(s.info.dwProcessId);
}

ProcessPoll pollProcess(ProcessId process, int& outExitCode) {
    outExitCode = 0;
    HANDLE h = process > 0 ? childHandle(process) : nullptr;
    if (!h) return ProcessPoll::Failed;
    DWORD r = ::WaitForSingleObject(h, 0);
    if (r == WAIT_TIMEOUT) return ProcessPoll::Running;
    if (r != WAIT_OBJECT_0) return ProcessPoll::Failed;
    outExitCode = collectChild(process, h);
    return ProcessPoll::Exited;
}

int terminateProcess(ProcessId process, double graceSeconds) {
    HANDLE h = process > 0 ? childHandle(process) : nullptr;
    if (!h) return -1;
    if (::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) return collectChild(process, h);
    // Windows has no SIGTERM: the polite request is a close message to its windows.
    ::EnumWindows(closeWindowOf, static_cast<LPARAM>(process));
    const DWORD graceMs = graceSeconds > 0 ? static_cast<DWORD>(graceSeconds * 1000.0) : 0;
    if (::WaitForSingleObject(h, graceMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(h, 1);
        ::WaitForSingleObject(h, INFINITE);
    }
    return collectChild(process, h);
}

bool isProgramRunning(const std::string& baseName) {
    if (baseName.empty()) return false;
    const std::wstring name = widen(baseName);
    const std::wstring withExe = name + L".exe";
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    const std::string us = processUser(::GetCurrentProcess());
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
         more = ::Process32NextW(snapshot, &entry)) {
        // szExeFile is the file name alone; "morlaken_server" also finds "Morlaken_Server.exe".
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0 || _wcsicmp(entry.szExeFile, withExe.c_str()) == 0)
            found = runsAs(entry.th32ProcessID, us);
    }
    ::CloseHandle(snapshot);
    return found;
}

bool pathExists(const std::string& path) {
    return !path.empty() && ::GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void lowerThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

// ---- desktop ----

void openWebAddress(const std::string& address) {
    if (address.empty()) return;
    ::ShellExecuteW(nullptr, L"open", widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void showErrorBox(const std::string& text) {
    std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    ::MessageBoxW(nullptr, widen(text).c_str(), kErrorCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

std::string desktopFolder() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path)) && path)
        folder = forwardSlashes(narrow(path, std::wcslen(path)));
    ::CoTaskMemFree(path);
    DWORD a = folder.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(systemPath(folder).c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return "";
    return folder;
}

bool makeExecutable(const std::string& path) {
    // No execute bit on Windows; a shell link runs as it is.
    return pathExists(path);
}

const char* desktopShortcutExtension() {
    return kShellLinkExtension;
}

bool saveDesktopShortcut(const DesktopShortcut& shortcut) {
    if (shortcut.target.empty()) return false;
    const std::string desktop = desktopFolder();
    if (desktop.empty()) return false;
    const std::wstring path = systemPath(desktop + "/" + shortcut.name + kShellLinkExtension);
    const std::wstring target = systemPath(shortcut.target);
    // S_FALSE (already initialised on this thread) also needs its CoUninitialize.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)))) {
        // A link without its target is never saved; the other fields only decorate it.
        if (SUCCEEDED(link->SetPath(target.c_str()))) {
            link->SetWorkingDirectory(systemPath(shortcut.workingFolder).c_str());
            link->SetIconLocation(target.c_str(), 0);
            link->SetDescription(widen(shortcut.description).c_str());
            IPersistFile* file = nullptr;
            if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
                saved = SUCCEEDED(file->Save(path.c_str(), TRUE)); // replaces a file of that name
                file->Release();
            }
        }
        link->Release();
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return saved;
}

// ---- terminal ----

bool stderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void useUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

void exitNow(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    // No exit handlers, no static destructors, no DLL detach work inside the HTTP layer.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
    ::ExitProcess(static_cast<UINT>(exitCode));
}

int64_t processId() {
    return static_cast<int64_t>(::GetCurrentProcessId());
}

// ---- memory ----

void releaseFreeMemory() {
    _heapmin();
    ::HeapCompact(::GetProcessHeap(), 0);
}

// ---- shared libraries ----

Library openLibrary(const char* fileName) {
    return ::LoadLibraryW(widen(fileName).c_str());
}

void* libraryFunction(Library library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

} // namespace platform
