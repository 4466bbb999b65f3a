#include "SharePages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <dirent.h>
#include <sys/stat.h>

namespace lagwell {

namespace {

constexpr const char* kConnectPageHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="dark">
<title>Tavrix — live</title>
<style>
:root { color-scheme: dark; }
body { margin: 0; background: #0b0b0d; color: #ececf0; font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; line-height: 1.5; }
main { max-width: 560px; margin: 0 auto; padding: 32px 20px; }
h1 { color: #ff6b35; margin: 0 0 8px; }
label { display: block; margin: 24px 0 8px; font-weight: 600; }
input { box-sizing: border-box; width: 100%; padding: 12px; font-size: 36px; letter-spacing: 0.5em; text-align: center; text-transform: uppercase; background: #16161a; color: #ececf0; border: 2px solid #2c2c33; border-radius: 10px; outline: none; }
input:focus { border-color: #ff6b35; }
.address { padding: 12px; background: #16161a; border: 1px solid #2c2c33; border-radius: 10px; font-family: ui-monospace, Menlo, Consolas, monospace; word-break: break-all; }
button { display: block; width: 100%; margin-top: 12px; padding: 12px; font-size: 16px; font-weight: 600; color: #ffffff; background: #ff6b35; border: 0; border-radius: 10px; cursor: pointer; }
button:disabled { opacity: 0.4; cursor: default; }
button.copied { background: #4caf50; }
ol { padding-left: 22px; }
li { margin: 4px 0; }
.muted { color: #8e8e99; font-size: 14px; }
</style>
</head>
<body>
<main>
<h1>Tavrix</h1>
<p>This machine is sharing its replay on your network.</p>
<label for="code">Room code from the app</label>
<input id="code" type="text" maxlength="3" autocomplete="off" autocorrect="off" spellcheck="false" autocapitalize="characters" placeholder="ABC" autofocus>
<label for="address">Address for OBS</label>
<div id="address" class="address">Enter the code above</div>
<button id="copy" type="button" disabled>Copy address</button>
<label>In OBS</label>
<ol>
<li>Sources &rarr; + &rarr; <b>Media Source</b></li>
<li>Untick <b>Local File</b></li>
<li>Paste the address into <b>Input</b></li>
<li>Drag <b>Network Buffering</b> down to <b>0 MB</b></li>
</ol>
<p class="muted">That last step matters. OBS defaults to a 2&nbsp;MB buffer, which at this bitrate is several seconds of delay &mdash; it is sized for streaming over the internet, not a machine on the same network.</p>
<p class="muted">Video only &mdash; add your own microphone in OBS as a separate source.</p>
</main>
<script>
(function () {
)html";

constexpr const char* kConnectPageScript = R"html(  var placeholder = "Enter the code above";
  var input = document.getElementById("code");
  var box = document.getElementById("address");
  var button = document.getElementById("copy");

  function streamAddress() {
    return "http://" + host + ":" + port + "/live.ts?k=" + input.value.toUpperCase();
  }
  function resetButton() {
    button.textContent = "Copy address";
    button.classList.remove("copied");
  }
  function copied() {
    button.textContent = "Copied \u2713";
    button.classList.add("copied");
  }
  function failed() {
    var range = document.createRange();
    range.selectNodeContents(box);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    button.textContent = "Press Ctrl+C to copy";
  }
  function copyThroughTextArea(text) {
    var area = document.createElement("textarea");
    area.value = text;
    area.setAttribute("readonly", "");
    area.style.position = "fixed";
    area.style.top = "-1000px";
    area.style.opacity = "0";
    document.body.appendChild(area);
    area.select();
    var ok = false;
    try {
      ok = document.execCommand("copy");
    } catch (e) {
      ok = false;
    }
    document.body.removeChild(area);
    return ok;
  }

  input.addEventListener("input", function () {
    var complete = input.value.trim().length === 3;
    box.textContent = complete ? streamAddress() : placeholder;
    button.disabled = !complete;
    resetButton();
  });
  button.addEventListener("click", function () {
    var text = streamAddress();
    if (navigator.clipboard && window.isSecureContext) {
      navigator.clipboard.writeText(text).then(copied, failed);
    } else if (copyThroughTextArea(text)) {
      copied();
    } else {
      failed();
    }
  });
  input.focus();
})();
</script>
</body>
</html>
)html";

constexpr const char* kRecordingsPageHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="dark">
<title>Tavrix — recordings</title>
<style>
:root { color-scheme: dark; }
body { margin: 0; background: #0b0b0d; color: #ececf0; font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; line-height: 1.5; }
main { max-width: 720px; margin: 0 auto; padding: 32px 20px; }
h1 { color: #ff6b35; margin: 0 0 16px; }
a { color: #ff6b35; }
table { width: 100%; border-collapse: collapse; }
th, td { text-align: left; padding: 8px 6px; border-bottom: 1px solid #2c2c33; word-break: break-all; }
th { font-weight: 600; }
.muted { color: #8e8e99; }
</style>
</head>
<body>
<main>
<h1>Tavrix — recordings</h1>
<table>
<tr><th>File</th><th>Size</th><th>Date</th><th></th></tr>
)html";

constexpr const char* kRecordingsPageTail = "</table>\n</main>\n</body>\n</html>\n";

bool endsWith(const std::string& text, const char* suffix, size_t suffixSize)
{
    return text.size() >= suffixSize && text.compare(text.size() - suffixSize, suffixSize, suffix) == 0;
}

// A JavaScript string literal that cannot end the script element.
std::string jsString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out += "\"";
    return out;
}

}  // namespace

std::string SharePages::connectPageHtml(const std::string& host, int port)
{
    std::string page = kConnectPageHead;
    page += "  var host = " + jsString(host) + ";\n";
    page += "  var port = " + std::to_string(port) + ";\n";
    page += kConnectPageScript;
    return page;
}

bool SharePages::isSameFile(const std::string& excludedPath, const std::string& path, const struct stat& info)
{
    if (excludedPath.empty())
        return false;
    if (excludedPath == path)
        return true;
    struct stat excluded {};
    return ::stat(excludedPath.c_str(), &excluded) == 0 && excluded.st_dev == info.st_dev
        && excluded.st_ino == info.st_ino;
}

std::vector<SharePages::Entry> SharePages::listRecordings(const std::string& directory, const std::string& excludedPath)
{
    std::vector<Entry> entries;
    if (directory.empty())
        return entries;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return entries;
    while (const dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (!endsWith(name, ".mp4", 4))
            continue;
        const std::string path = directory + "/" + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (isSameFile(excludedPath, path, info))
            continue;
        entries.push_back({name, static_cast<int64_t>(info.st_size), static_cast<int64_t>(info.st_mtime)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.mtime != b.mtime ? a.mtime > b.mtime : a.name < b.name;
    });
    return entries;
}

std::string SharePages::recordingsPageHtml(const std::vector<Entry>& entries, const std::string& code)
{
    std::string page = kRecordingsPageHead;
    const std::string query = "?k=" + percentEncode(code);
    for (const Entry& entry : entries) {
        page += "<tr><td>" + htmlEscape(entry.name) + "</td><td>" + formatSize(entry.size) + "</td><td>"
            + formatDate(entry.mtime) + "</td><td><a href=\"/recordings/" + percentEncode(entry.name) + query
            + "\">Download</a></td></tr>\n";
    }
    if (entries.empty())
        page += "<tr><td colspan=\"4\" class=\"muted\">No recordings yet.</td></tr>\n";
    page += kRecordingsPageTail;
    return page;
}

std::string SharePages::htmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string SharePages::percentEncode(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string SharePages::formatSize(int64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string SharePages::formatDate(int64_t mtime)
{
    const std::time_t seconds = static_cast<std::time_t>(mtime);
    std::tm local {};
    if (!::localtime_r(&seconds, &local))
        return {};
    char text[64];
    if (std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local) == 0)
        return {};
    return text;
}

}  // namespace lagwell
