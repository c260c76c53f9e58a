// publish.cpp - morlaken-publish DIR [--version TEXT] [--sign KEYFILE] [--previous OLDLIST]
//               morlaken-publish --new-key KEYFILE
//
// Writes DIR/dosyalar.txt, the file list the launcher downloads, hashing every regular
// file under DIR with the launcher's own SHA-256. Paths the launcher would refuse stop
// the run before anything is written, so a published list is always one the launcher
// accepts. With --sign the list also carries a sequence line and an Ed25519 signature
// line (both comments to an unsigned reader); --new-key writes a key pair for that and
// prints the public key, for "liste_anahtari" in the shipped varsayilan.ini. A signing
// prints its sequence number, for "liste_sirasi" in a package made from that list.
//
// Every listed file of at least 4 MiB also gets a chunk index (update/chunks.h) in
// DIR/dosyalar.parcalar/, named by its own SHA-256 and named in the list by a comment
// line, so a launcher patches it by its changed chunks. Indexes named by neither the new
// list, the list it replaces nor OLDLIST are removed. With --previous the run prints what
// the patch costs a player who has OLDLIST's version, file by file.
//
// Index
//   ---- tunables ----
//   ---- arguments ----
//   ---- walking the folder ----
//   ---- hashing ----
//   ---- progress ----
//   ---- chunk indexes ----
//   ---- what a patch costs ----
//   ---- writing the list ----
//   ---- main ----
#include "config/config.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/signature.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- tunables ----

constexpr size_t kReadChunkBytes = 1024 * 1024; // per hashing thread
constexpr unsigned kMaxHashThreads = 2;         // the build machines have two cores
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
constexpr int kExitOk = 0;
constexpr int kExitRefused = 1; // a path or file that cannot be listed, a write failure
constexpr int kExitUsage = 2;

const char* const kTopLevelExcluded[] = {kFileListName, kUpdateCacheFile, kUserConfigFile, kSequenceFile,
                                         platform::kFolderLockFile};
// Beside the secret key: the last sequence signed with it (the signer's own count).
constexpr const char* kSignerStateSuffix = ".sira";
const char* const kExcludedEndings[] = {".indir", ".eski"};

void printError(const std::string& text) {
    std::fprintf(stderr, "morlaken-publish: %s\n", text.c_str());
}

// ---- arguments ----

struct Options {
    std::string folder;
    std::string version;
    bool hasVersion = false;
    std::string newKeyFile; // --new-key: write a key pair, nothing else
    std::string signKeyFile;
    std::string previousList; // --previous: the list players have now
};

bool parseArguments(const std::vector<std::string>& args, Options& outOptions) {
    const size_t count = args.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string& arg = args[i];
        if (arg == "--version") {
            if (i + 1 >= count || outOptions.hasVersion) return false;
            outOptions.version = args[++i];
            outOptions.hasVersion = true;
        } else if (arg == "--new-key" || arg == "--sign" || arg == "--previous") {
            std::string& file = arg == "--new-key" ? outOptions.newKeyFile
                                : arg == "--sign"  ? outOptions.signKeyFile
                                                   : outOptions.previousList;
            if (i + 1 >= count || !file.empty() || args[i + 1].empty()) return false;
            file = args[++i];
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            return false;
        } else if (outOptions.folder.empty() && !arg.empty()) {
            outOptions.folder = arg;
        } else {
            return false;
        }
    }
    if (!outOptions.newKeyFile.empty())
        return outOptions.folder.empty() && !outOptions.hasVersion && outOptions.signKeyFile.empty() &&
               outOptions.previousList.empty();
    return !outOptions.folder.empty();
}

// ---- walking the folder ----

struct Candidate {
    std::string path; // relative, '/'-separated: the text that goes into the list
    std::string hash;
    int64_t size = 0;
    std::string error;         // set by a hashing thread when the file could not be read whole
    std::vector<Chunk> chunks; // a file of at least kIndexedFileMinBytes: its chunks
    std::string index;         // ... and the bytes of its index
    ChunkIndexRef indexRef;
};

bool isExcluded(const std::string& relative, const std::string& name, bool topLevel) {
    if (platform::isAtomicWriteTemporary(name)) {
        printError("warning: skipping \"" + relative + "\": left behind by an interrupted save");
        return true;
    }
    if (topLevel)
        for (const char* excluded : kTopLevelExcluded)
            if (relative == excluded) return true;
    for (const char* ending : kExcludedEndings)
        if (name.ends_with(ending)) return true;
    return false;
}

// The secret key as a file, when signing: no file under the folder may be it, by whatever
// name or link it is reached, or the key would be served to every player.
struct KeyGuard {
    bool signing = false;
    platform::FileIdentity key;
    std::string keyFile;
    bool found = false; // a file under the folder is the key
};

bool isTheKey(const std::string& full, const std::string& relative, KeyGuard& guard) {
    platform::FileIdentity id;
    if (!guard.signing || !platform::fileIdentity(full, id) || !(id == guard.key)) return false;
    printError("\"" + relative + "\" is the secret key \"" + guard.keyFile +
               "\"; keep the key outside the published folder");
    guard.found = true;
    return true;
}

// Collects every regular file (or link to one) under `root`/`relative`. Returns false
// when a folder cannot be listed; other skips are warnings only.
bool collectFiles(const std::string& root, const std::string& relative, std::vector<Candidate>& outFiles,
                  KeyGuard& guard) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    std::vector<std::string> names;
    if (!platform::listFolder(folder, names)) {
        printError("cannot list folder \"" + folder + "\"");
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string full = root + "/" + rel;
        switch (platform::entryType(full)) {
        case platform::EntryType::Folder:
            if (relative.empty() && name == kChunkIndexFolder) break; // the indexes: never listed
            if (!collectFiles(root, rel, outFiles, guard)) return false;
            break;
        case platform::EntryType::File:
            if (!isTheKey(full, rel, guard) && !isExcluded(rel, name, relative.empty()))
                outFiles.emplace_back().path = rel;
            break;
        case platform::EntryType::Link:
            if (platform::fileSize(full) >= 0) {
                if (!isTheKey(full, rel, guard) && !isExcluded(rel, name, relative.empty()))
                    outFiles.emplace_back().path = rel;
            } else {
                printError("warning: skipping \"" + rel + "\": a link that does not lead to a regular file");
            }
            break;
        case platform::EntryType::Missing:
            printError("warning: skipping \"" + rel + "\": vanished while the folder was read");
            break;
        case platform::EntryType::Other:
            printError("warning: skipping \"" + rel + "\": not a regular file");
            break;
        }
    }
    return true;
}

// The launcher must be able to read the path back from one list line exactly as written.
bool checkPath(const std::string& path, std::string& outWhy) {
    if (path.find('\n') != std::string::npos) {
        outWhy = "its name holds a line feed";
        return false;
    }
    if (path.find('\r') != std::string::npos) {
        outWhy = "its name holds a carriage return";
        return false;
    }
    if (!isSafeRelativePath(path)) {
        outWhy = "the launcher refuses this path (':', a '\\' segment that is empty, \".\" or \"..\", "
                 "more than 4096 bytes, or a name of more than 255 bytes)";
        return false;
    }
    return true;
}

// ---- hashing ----

struct Progress {
    std::atomic<int64_t> bytesDone{0}; // written by the hashing threads
    std::atomic<int32_t> filesDone{0}; // written by the hashing threads
    std::mutex mutex;                  // guards `finished` for the wait below
    std::condition_variable finishedCue;
    bool finished = false;
};

// Hashes one file with the launcher's SHA-256, counting the bytes actually read so the
// listed size always matches the listed hash. A large file is cut into chunks in the same
// read (its index is written from them).
void hashOne(const std::string& root, Candidate& file, uint8_t* buffer, Progress& progress) {
    const std::string full = root + "/" + file.path;
    if (platform::fileSize(full) >= kIndexedFileMinBytes) {
        static const std::atomic<bool> never{false};
        Sha256 whole;
        if (!chunkFile(full, file.chunks, never, &whole)) {
            file.error = "could not be read to its end";
            return;
        }
        file.hash = platform::toHex(whole.finish());
        file.size = file.chunks.empty() ? 0 : file.chunks.back().offset + file.chunks.back().length;
        progress.bytesDone.fetch_add(file.size, std::memory_order_relaxed);
        return;
    }
    std::FILE* in = platform::openForReading(full);
    if (!in) {
        file.error = "cannot be opened";
        return;
    }
    std::setvbuf(in, nullptr, _IONBF, 0);
    Sha256 ctx;
    int64_t size = 0;
    for (;;) {
        size_t n = std::fread(buffer, 1, kReadChunkBytes, in);
        if (n > 0) {
            ctx.update(buffer, n);
            size += int64_t(n);
            progress.bytesDone.fetch_add(int64_t(n), std::memory_order_relaxed);
        }
        if (n < kReadChunkBytes) break;
    }
    bool readError = std::ferror(in) != 0;
    std::fclose(in);
    if (readError) {
        file.error = "could not be read to its end";
        return;
    }
    file.hash = platform::toHex(ctx.finish());
    file.size = size;
}

void hashAll(const std::string& root, std::vector<Candidate>& files, Progress& progress) {
    std::atomic<size_t> next{0};
    auto worker = [&] {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunkBytes]);
        for (;;) {
            size_t index = next.fetch_add(1);
            if (index >= files.size()) return;
            hashOne(root, files[index], buffer.get(), progress);
            progress.filesDone.fetch_add(1, std::memory_order_relaxed);
        }
    };
    unsigned count = std::max(1u, std::min(kMaxHashThreads, std::thread::hardware_concurrency()));
    if (files.size() < count) count = unsigned(std::max<size_t>(files.size(), 1));
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < count; ++i)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
}

// ---- progress ----

std::string progressLine(int32_t filesDone, size_t filesTotal, int64_t bytesDone, int64_t bytesTotal,
                         double seconds) {
    const double mb = 1024.0 * 1024.0;
    char text[160];
    std::snprintf(text, sizeof text, "\r%d/%zu files, %.1f/%.1f MB, %.1f MB/s   ", filesDone, filesTotal,
                  double(bytesDone) / mb, double(bytesTotal) / mb,
                  seconds > 0 ? double(bytesDone) / mb / seconds : 0.0);
    return text;
}

// Hashes every file; on a terminal the main thread redraws one progress line meanwhile.
void hashWithProgress(const std::string& root, std::vector<Candidate>& files, int64_t bytesTotal) {
    Progress progress;
    if (!platform::stderrIsTerminal()) {
        hashAll(root, files, progress);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread hasher([&] {
        hashAll(root, files, progress);
        std::lock_guard<std::mutex> lock(progress.mutex);
        progress.finished = true;
        progress.finishedCue.notify_all();
    });
    for (;;) {
        std::unique_lock<std::mutex> lock(progress.mutex);
        bool done = progress.finishedCue.wait_for(lock, kProgressInterval, [&] { return progress.finished; });
        lock.unlock();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fputs(progressLine(progress.filesDone.load(), files.size(), progress.bytesDone.load(),
                                bytesTotal, seconds)
                       .c_str(),
                   stderr);
        if (done) break;
    }
    std::fputs("\n", stderr);
    hasher.join();
}

// ---- chunk indexes ----

std::string sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return platform::toHex(hash.finish());
}

// Makes the index of every chunked file. Unchanged content gives the same bytes, and so
// the same name: a republished folder keeps its indexes byte for byte.
void makeIndexes(std::vector<Candidate>& files) {
    for (Candidate& f : files) {
        if (f.chunks.empty()) continue;
        f.index = chunkIndexBytes(f.chunks, f.size);
        f.indexRef = ChunkIndexRef{sha256Hex(f.index), static_cast<int64_t>(f.index.size())};
    }
}

// Writes the indexes the folder does not hold yet (before the list that names them).
bool writeIndexes(const std::string& root, const std::vector<Candidate>& files) {
    const std::string folder = root + "/" + kChunkIndexFolder;
    bool any = false;
    for (const Candidate& f : files)
        any = any || !f.index.empty();
    if (!any) return true;
    if (!platform::createFolders(folder)) {
        printError("cannot create \"" + folder + "\"");
        return false;
    }
    for (const Candidate& f : files) {
        if (f.index.empty()) continue;
        const std::string path = folder + "/" + f.indexRef.hash;
        std::string present;
        if (platform::readWholeFile(path, present) && present == f.index) continue;
        if (!platform::writeFileAtomically(path, f.index)) {
            printError("cannot write \"" + path + "\"");
            return false;
        }
    }
    return true;
}

// The index names that lists in `listFiles` refer to.
std::set<std::string> indexesNamedBy(const std::vector<std::string>& listFiles) {
    std::set<std::string> names;
    for (const std::string& file : listFiles) {
        std::string text;
        if (!platform::readWholeFile(file, text)) continue;
        for (const auto& [path, ref] : readChunkIndexLines(text))
            names.insert(ref.hash);
    }
    return names;
}

// Removes the indexes that no list still in use names (a player part-way through the list
// being replaced still finds the ones it names).
void removeUnusedIndexes(const std::string& root, const std::set<std::string>& keep) {
    const std::string folder = root + "/" + kChunkIndexFolder;
    std::vector<std::string> names;
    if (!platform::listFolder(folder, names)) return;
    for (const std::string& name : names)
        if (!keep.count(name) && platform::entryType(folder + "/" + name) == platform::EntryType::File)
            platform::deleteFile(folder + "/" + name);
}

// ---- what a patch costs ----

// OLDLIST's text, when it reads as a list. False, with the reason printed, otherwise.
bool readPreviousList(const std::string& file, std::string& outText) {
    FileList old;
    std::string error;
    if (platform::readWholeFile(file, outText) &&
        parseFileList(outText, old, error, [](const std::string&) {}))
        return true;
    printError("\"" + file + "\" is not a file list" + (error.empty() ? "" : " (" + error + ")") +
               "; nothing written");
    return false;
}

// For every file that differs from OLDLIST's: what a player with OLDLIST's version
// fetches (the chunks its old copy lacks, plus the index; the whole file without an index
// on either side or without the old index in the folder), next to the full size; then the
// totals with the list.
void reportPatchCost(const std::string& root, const std::string& previousList, const std::string& text,
                     const std::vector<Candidate>& files, size_t listBytes) {
    FileList old;
    std::string error;
    parseFileList(text, old, error, [](const std::string&) {});
    const std::map<std::string, ChunkIndexRef> oldRefs = readChunkIndexLines(text);
    std::map<std::string, const FileEntry*> oldFiles;
    for (const FileEntry& e : old)
        oldFiles[e.path] = &e;
    auto percent = [](int64_t part, int64_t whole) {
        return whole > 0 ? 100.0 * double(part) / double(whole) : 0.0;
    };
    int64_t fetched = 0, full = 0;
    int changed = 0;
    std::printf("patch from %s:\n", previousList.c_str());
    for (const Candidate& f : files) {
        const auto was = oldFiles.find(f.path);
        if (was != oldFiles.end() && was->second->hash == f.hash && was->second->size == f.size) continue;
        ++changed;
        int64_t cost = f.size;
        const char* how = "whole";
        const auto oldRef = oldRefs.find(f.path);
        std::string oldIndexBytes;
        ChunkIndex oldIndex;
        if (was != oldFiles.end() && !f.index.empty() && oldRef != oldRefs.end() &&
            platform::readWholeFile(root + "/" + kChunkIndexFolder + "/" + oldRef->second.hash,
                                    oldIndexBytes) &&
            sha256Hex(oldIndexBytes) == oldRef->second.hash && parseChunkIndex(oldIndexBytes, oldIndex)) {
            std::set<ChunkHash> had;
            for (const Chunk& c : oldIndex.chunks)
                had.insert(c.hash);
            cost = f.indexRef.size;
            for (const Chunk& c : f.chunks)
                if (!had.count(c.hash)) cost += c.length;
            how = "patched";
        }
        fetched += cost;
        full += f.size;
        std::printf("  %s: %lld of %lld bytes (%.2f%%, %s)\n", f.path.c_str(), static_cast<long long>(cost),
                    static_cast<long long>(f.size), percent(cost, f.size), how);
    }
    std::printf("  list: %zu bytes\n", listBytes);
    std::printf("total: %d changed files, %lld of %lld bytes (%.2f%%) with the list\n", changed,
                static_cast<long long>(fetched + int64_t(listBytes)), static_cast<long long>(full),
                percent(fetched + int64_t(listBytes), full));
}

// ---- writing the list ----

// The entries, then one "# parcalar" line per indexed file.
std::string listText(const Options& options, const std::vector<Candidate>& files) {
    FileList entries;
    entries.reserve(files.size());
    for (const Candidate& f : files)
        entries.push_back(FileEntry{f.hash, f.size, f.path});
    std::string text = fileListText(entries, options.hasVersion ? &options.version : nullptr);
    for (const Candidate& f : files)
        if (!f.index.empty()) text += chunkIndexLine(f.path, f.indexRef);
    return text;
}

// Reads the text back with the launcher's own parser: what is written must be what the
// launcher will see.
bool readsBackTheSame(const std::string& text, const Options& options, const std::vector<Candidate>& files) {
    FileList parsed;
    std::string error;
    std::string version;
    bool sawVersion = false;
    if (!parseFileList(text, parsed, error, [&](const std::string& v) {
            version = v;
            sawVersion = true;
        }))
        return false;
    if (sawVersion != options.hasVersion || (sawVersion && version != options.version)) return false;
    if (parsed.size() != files.size()) return false;
    for (size_t i = 0; i < files.size(); ++i)
        if (parsed[i].path != files[i].path || parsed[i].hash != files[i].hash ||
            parsed[i].size != files[i].size)
            return false;
    return true;
}

// ---- signing ----

// The secret key file holds the 64-byte libsodium secret key as 128 hex digits.
int writeNewKey(const std::string& file) {
    ListPublicKey publicKey;
    ListSecretKey secret;
    newListKeyPair(publicKey, secret);
    std::string text = platform::toHex(secret.data(), secret.size()) + "\n";
    const platform::FileHandle out = platform::createOwnerOnlyFile(file);
    bool written = out >= 0 && platform::writeToFile(out, text.data(), text.size());
    if (out >= 0 && !platform::closeFile(out, written)) written = false;
    std::fill(text.begin(), text.end(), '\0');
    secret.fill(0);
    if (!written) {
        if (out >= 0) platform::deleteFile(file);
        printError("cannot create \"" + file + "\" (an existing file is never overwritten)");
        return kExitRefused;
    }
    std::printf("secret key written to %s (keep it private; only its owner can read it)\n", file.c_str());
    std::printf("public key for liste_anahtari in varsayilan.ini:\n%s\n",
                platform::toHex(publicKey.data(), publicKey.size()).c_str());
    return kExitOk;
}

bool readSecretKey(const std::string& file, ListSecretKey& out) {
    std::string text;
    if (!platform::readWholeFile(file, text)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    bool good = text.size() == out.size() * 2;
    for (size_t i = 0; good && i < out.size(); ++i) {
        unsigned value = 0;
        good = std::sscanf(text.c_str() + 2 * i, "%2x", &value) == 1 &&
               std::isxdigit(static_cast<unsigned char>(text[2 * i])) &&
               std::isxdigit(static_cast<unsigned char>(text[2 * i + 1]));
        out[i] = static_cast<uint8_t>(value);
    }
    std::fill(text.begin(), text.end(), '\0');
    return good;
}

// The sequence of the next signing: one past the larger of the previous list's number and
// the last number signed with this key (kept beside the key, so a new or emptied folder
// continues the count instead of taking the clock, which may be below a number signed
// while the clock ran ahead); the current time in seconds only when neither exists. False,
// with the reason, when the signer's record is damaged or the numbers are spent.
bool nextSequence(const std::string& previousList, const std::string& signerState, uint64_t& outSequence,
                  std::string& outWhy) {
    bool known = false;
    uint64_t last = 0;
    std::string text;
    if (platform::readWholeFile(previousList, text)) {
        platform::LineReader lines(text);
        std::string_view line;
        uint64_t value = 0;
        while (lines.next(line))
            if (line.substr(0, kSequenceLinePrefix.size()) == kSequenceLinePrefix &&
                parseSequenceNumber(line.substr(kSequenceLinePrefix.size()), value)) {
                last = std::max(last, value);
                known = true;
            }
    }
    if (platform::entryType(signerState) != platform::EntryType::Missing) {
        uint64_t value = 0;
        if (!platform::readWholeFile(signerState, text) || text.empty() || text.back() != '\n' ||
            !parseSequenceNumber(std::string_view(text).substr(0, text.size() - 1), value)) {
            outWhy = "\"" + signerState + "\" (the last sequence signed with this key) is damaged";
            return false;
        }
        last = std::max(last, value);
        known = true;
    }
    if (!known) {
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        outSequence = std::min<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(now, 1)), kMaxSequence);
        return true;
    }
    if (last >= kMaxSequence) {
        outWhy = "the sequence numbers are spent (" + std::to_string(last) + ")";
        return false;
    }
    outSequence = last + 1;
    return true;
}

} // namespace

// ---- main ----

int main(int argc, char** argv) {
    platform::useUtf8Console();
    Options options;
    // UTF-8 on every system, so a folder such as "Gökhan/oyun" is found on Windows too.
    if (!parseArguments(platform::programArguments(argc, argv), options)) {
        std::fprintf(stderr,
                     "usage: morlaken-publish DIR [--version TEXT] [--sign KEYFILE] [--previous OLDLIST]\n"
                     "       morlaken-publish --new-key KEYFILE\n");
        return kExitUsage;
    }
    if (!options.newKeyFile.empty()) return writeNewKey(options.newKeyFile);
    ListSecretKey secret{};
    if (!options.signKeyFile.empty() && !readSecretKey(options.signKeyFile, secret)) {
        printError("\"" + options.signKeyFile + "\" holds no key written by --new-key");
        return kExitRefused;
    }
    if (options.version.find_first_of("\r\n") != std::string::npos) {
        printError("the version text must be one line");
        return kExitUsage;
    }
    std::string root = options.folder;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::vector<std::string> probe;
    if (!platform::listFolder(root, probe)) {
        printError("\"" + options.folder + "\" is not a folder");
        return kExitRefused;
    }
    std::string previousText;
    if (!options.previousList.empty() && !readPreviousList(options.previousList, previousText))
        return kExitRefused;

    KeyGuard guard;
    guard.signing = !options.signKeyFile.empty();
    guard.keyFile = options.signKeyFile;
    if (guard.signing && !platform::fileIdentity(options.signKeyFile, guard.key)) {
        printError("cannot read \"" + options.signKeyFile + "\"");
        return kExitRefused;
    }
    std::vector<Candidate> files;
    if (!collectFiles(root, "", files, guard)) return kExitRefused;
    if (guard.found) {
        printError("nothing written");
        return kExitRefused;
    }
    std::sort(files.begin(), files.end(),
              [](const Candidate& a, const Candidate& b) { return a.path < b.path; });

    bool refused = false;
    for (const Candidate& f : files) {
        std::string why;
        if (!checkPath(f.path, why)) {
            printError("cannot list \"" + f.path + "\": " + why);
            refused = true;
        }
    }
    if (refused) {
        printError("nothing written; rename the files above and run again");
        return kExitRefused;
    }

    int64_t bytesTotal = 0;
    for (const Candidate& f : files)
        bytesTotal += std::max<int64_t>(0, platform::fileSize(root + "/" + f.path));
    hashWithProgress(root, files, bytesTotal);

    bool failed = false;
    for (const Candidate& f : files) {
        if (!f.error.empty()) {
            printError("cannot list \"" + f.path + "\": " + f.error);
            failed = true;
        }
    }
    if (failed) {
        printError("nothing written");
        return kExitRefused;
    }

    makeIndexes(files);
    const std::string target = root + "/" + kFileListName;
    const std::string signerState = options.signKeyFile + kSignerStateSuffix;
    std::string text = listText(options, files);
    uint64_t sequence = 0;
    if (!options.signKeyFile.empty()) {
        std::string why;
        if (!nextSequence(target, signerState, sequence, why)) {
            printError(why + "; nothing written");
            return kExitRefused;
        }
        text += std::string(kSequenceLinePrefix) + std::to_string(sequence) + "\n";
        text += signatureLine(text, secret);
        ListPublicKey publicKey; // the secret key's second half
        std::copy(secret.begin() + 32, secret.end(), publicKey.begin());
        secret.fill(0);
        uint64_t verified = 0;
        if (!verifySignedList(text, publicKey, verified) || verified != sequence) {
            printError("the signature does not verify; \"" + options.signKeyFile +
                       "\" is damaged; nothing written");
            return kExitRefused;
        }
    }
    if (!readsBackTheSame(text, options, files)) {
        printError("the list would not read back as written; nothing written");
        return kExitRefused;
    }
    // The signer's count first: a list is never out with a number its signer could reuse.
    if (!options.signKeyFile.empty() &&
        !platform::writeFileAtomically(signerState, std::to_string(sequence) + "\n")) {
        printError("cannot write \"" + signerState + "\"; nothing written");
        return kExitRefused;
    }
    std::set<std::string> keep = indexesNamedBy({target, options.previousList});
    if (!writeIndexes(root, files)) {
        printError("nothing written");
        return kExitRefused;
    }
    if (!platform::writeFileAtomically(target, text)) {
        printError("cannot write \"" + target + "\"");
        return kExitRefused;
    }
    for (const Candidate& f : files)
        if (!f.index.empty()) keep.insert(f.indexRef.hash);
    removeUnusedIndexes(root, keep);
    int64_t listed = 0;
    for (const Candidate& f : files)
        listed += f.size;
    std::printf("%zu files, %lld bytes listed in %s\n", files.size(), static_cast<long long>(listed),
                target.c_str());
    if (!options.signKeyFile.empty())
        std::printf("signed as sequence %llu (liste_sirasi for a package made from this list)\n",
                    static_cast<unsigned long long>(sequence));
    if (!options.previousList.empty())
        reportPatchCost(root, options.previousList, previousText, files, text.size());
    return kExitOk;
}
