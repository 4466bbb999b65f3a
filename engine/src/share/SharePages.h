#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct stat;

namespace lagwell {

// The two HTML pages of the share server, built afresh for every request and
// free of external resources, and the listing of the recordings directory.
// Stateless; callable from any thread.
class SharePages {
public:
    // One listed recording.
    struct Entry {
        std::string name;   // file name without directory
        int64_t size = 0;   // bytes
        int64_t mtime = 0;  // modification time, seconds since the epoch
    };

    // How the stream can be received: the visitor types the room code and
    // the page's script shows "http://<host>:<port>/live.ts?k=<CODE>" with a
    // copy button, beside the OBS steps.
    static std::string connectPageHtml(const std::string& host, int port);

    // The regular files (links followed) of `directory` whose names end in
    // ".mp4", newest first (ties by name), leaving out `excludedPath` (the
    // recording being written; empty for none). Unreadable: no entries.
    static std::vector<Entry> listRecordings(const std::string& directory, const std::string& excludedPath);

    // The recordings table; every download link carries the room code.
    static std::string recordingsPageHtml(const std::vector<Entry>& entries, const std::string& code);

    // Whether `path` (whose stat is `info`) is the file `excludedPath` names:
    // the same path text, or the same device and inode.
    static bool isSameFile(const std::string& excludedPath, const std::string& path, const struct stat& info);

    // "&", "<", ">" and the double quote as entities; other bytes copied.
    static std::string htmlEscape(const std::string& text);
    // Letters, digits and "-._~" kept, every other byte as %XX (upper case).
    static std::string percentEncode(const std::string& text);
    // Bytes / 1048576 as "%.1f MB".
    static std::string formatSize(int64_t bytes);
    // Local time as "%Y-%m-%d %H:%M".
    static std::string formatDate(int64_t mtime);
};

}  // namespace lagwell
