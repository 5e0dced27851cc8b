// qvr_crash_check: looks at what the program left on disk after it was killed, for crash_test.sh.
//   qvr_crash_check --store HOST:PORT --hive FILE --download-queue FILE --raw-queue FILE
//                   --music DIR --tracks FILE --requests FILE [--seen FILE] [--final]
// --tracks: "ID<TAB>TITLE<TAB>SIZE" lines (a title may repeat); --requests: "ID<TAB>ROUND<TAB>HOW" lines.
// --final: both queues empty and every request downloaded. --seen: whole files unchanged since an earlier
// check (inode, size, mtime) are not compared again. Prints one "FAIL ..." line per fault (a lost request
// as "FAIL lost ID: ..."), then "checked: F finished, P partial, I in the inbox, B bytes compared".
// A file holds the track its mark names: the attribute "user.quavero.track", "ADDRESS" or, once whole,
// "ADDRESS<LF>SIZE"; where the file system keeps none, the last line "DEVICE:INODE|ADDRESS|SIZE or nothing|PATH"
// for the file's path in trackfiles.txt beside the queue files. An unmarked file: the track of its name whose beginning it is.

#include "platform/hive.h"
#include "tools/store-sim/store_sim.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Track {
    std::string id, title;
    std::uint64_t size = 0;
};

using Fail = std::function<void(const std::string&)>;

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
}

std::vector<std::vector<std::string>> readTable(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream split(line);
        for (rows.emplace_back(); std::getline(split, line, '\t');)
            rows.back().push_back(line);
    }
    return rows;
}

// Each line must be non-empty and end in CR LF; a missing file is a queue not saved yet.
std::vector<std::string> queueLines(const std::string& path, const std::string& what, const Fail& fail)
{
    std::vector<std::string> lines;
    const std::string text = readFile(path).value_or("");
    for (std::string_view rest = text; !rest.empty();) {
        const auto end = rest.find("\r\n");
        if (end == std::string_view::npos) {
            fail(what + " ends in a partial line: " + std::string(rest));
            break;
        }
        if (end == 0 || rest.substr(0, end).find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            fail(what + " holds an empty or broken line");
        lines.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + 2);
    }
    return lines;
}

std::string identity(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 ? std::string() : std::to_string(st.st_ino) + "\t" + std::to_string(st.st_size)
        + "\t" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// The address of the track the file's mark names (see the head of this file), from `record` where the
// file system keeps no attributes.
std::optional<std::string> markOf(const std::string& path, const std::string& record)
{
    std::string text(8192, '\0');
    struct stat st {};
    if (const ssize_t n = ::lgetxattr(path.c_str(), "user.quavero.track", text.data(), text.size()); n >= 0)
        return text.substr(0, std::min(text.find('\n'), static_cast<std::size_t>(n)));
    if (errno != ENOTSUP || ::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    const std::string key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "|";
    std::istringstream lines(readFile(record).value_or(""));
    std::optional<std::string> latest;  // the path's last whole line holds
    for (std::string line; std::getline(lines, line) && !lines.eof();) {
        const auto bar = line.find('|', line.find('|') + 1), end = line.find('|', bar + 1);
        if (end != std::string::npos && line.substr(end + 1) == path)
            latest = line.starts_with(key) ? std::optional(line.substr(key.size(), bar - key.size())) : std::nullopt;
    }
    return latest;
}

} // namespace

int main(int argc, char** argv)
{
    int faults = 0;
    const Fail fail = [&faults](const std::string& text) { ++faults; std::cout << "FAIL " << text << "\n"; };
    std::map<std::string, std::string> option;
    const bool final = std::find(argv + 1, argv + argc, std::string("--final")) != argv + argc;
    for (int i = 1; i + 1 < argc; ++i)
        if (const std::string name = argv[i]; name != "--final")
            option[name] = argv[++i];
    for (const char* needed : {"--store", "--hive", "--download-queue", "--raw-queue", "--music", "--tracks", "--requests"})
        if (!option.count(needed)) {
            std::cerr << "qvr_crash_check: " << needed << " is missing\n";
            return 2;
        }
    std::map<std::string, Track> byId, byAddress;  // a track is its address; its title may be another's too
    for (const auto& row : readTable(option["--tracks"]))
        if (row.size() == 3)
            byId[row[0]] = byAddress["http://" + option["--store"] + "/tracks/" + row[0] + ".mp3?dl=" + row[0]]
                = Track {row[0], row[1], std::stoull(row[2])};

    const auto hive = qvr::HiveDocument::parse(readFile(option["--hive"]).value_or(""));
    if (!hive)
        fail("the settings hive is missing or does not parse");
    for (const char* name : {"DownloadQueue", "RawQueue"})
        if (hive && !hive->findValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue", name))
            fail(std::string("the settings hive lost the value ") + name);

    std::set<std::string> queued, rawIds;
    for (const std::string& line : queueLines(option["--download-queue"], "the download queue", fail)) {
        const auto bar = line.find('|');
        const auto track = bar == std::string::npos ? byAddress.end() : byAddress.find(line.substr(bar + 1));
        if (line.find('|', bar + 1) != std::string::npos || track == byAddress.end()) {
            fail("the download queue holds a line that is no track of the store: " + line);
            continue;
        }
        if (line.substr(0, bar) != track->second.title)
            fail("the download queue has the wrong title for " + track->second.id + ": " + line.substr(0, bar));
        if (!queued.insert(track->second.id).second)
            fail("the download queue holds " + track->second.id + " twice");
    }
    const auto requested = [&](const std::string& text) { return text.starts_with("track=") && byId.count(text.substr(6)); };
    for (const std::string& line : queueLines(option["--raw-queue"], "the raw queue", fail)) {
        if (requested(line))
            rawIds.insert(line.substr(6));
        else
            fail("the raw queue holds a line that is no request of the test: " + line);
    }
    // Requests a second start handed over that the window had not taken yet; a name with a
    // leading dot is a deposit cut short, never acknowledged.
    std::size_t waiting = 0;
    std::error_code error;
    const auto queues = std::filesystem::path(option["--raw-queue"]).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(queues / "inbox", error)) {
        const std::string name = entry.path().filename().string(), text = readFile(entry.path().string()).value_or("");
        if (name.starts_with("."))
            continue;
        if (name.ends_with(".req") && requested(text)) {
            rawIds.insert(text.substr(6));
            ++waiting;
        } else
            fail("the inbox holds a file that is no request of the test: " + name);
    }
    error.clear();

    // Every file in the download folder: a true beginning of its track, whole once it left the queue.
    std::set<std::string> seen, seenNow, finished;
    std::map<std::string, std::string> fileOf;
    std::ifstream seenIn(option.count("--seen") ? option["--seen"] : "");
    for (std::string line; std::getline(seenIn, line);)
        seen.insert(line);
    std::uint64_t compared = 0;
    std::size_t partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(option["--music"], error)) {
        const std::string name = entry.path().filename().string(), path = entry.path().string();
        const auto named = [&name](const Track& t) {  // "TITLE.mp3", or "TITLE (N).mp3" from N = 2 on
            const auto n = name.starts_with(t.title + " (") && name.ends_with(").mp3") && name.size() > t.title.size() + 7
                ? name.substr(t.title.size() + 2, name.size() - t.title.size() - 7) : std::string("x");
            return name == t.title + ".mp3" || (n.find_first_not_of("0123456789") == std::string::npos && n[0] != '0' && n != "1");
        };
        const auto mark = markOf(path, (queues / "trackfiles.txt").string());
        const Track* track = mark && byAddress.count(*mark) ? &byAddress[*mark] : nullptr;
        std::optional<std::string> bytes = mark ? std::nullopt : readFile(path);
        for (const auto& [id, t] : byId)  // unmarked: the track of its name it begins, one still queued if two
            if (bytes && named(t) && bytes->size() <= t.size && (!track || queued.count(id))
                && qvr::sim::trackContent(qvr::sim::patternFromId(id), 0, bytes->size()) == *bytes)
                track = &t;
        if (!track) {
            fail("the download folder holds a file of no track: " + name + (mark ? ", marked " + *mark : ""));
            continue;
        }
        if (mark && !named(*track))
            fail(name + " is marked for " + track->id + ", which is titled " + track->title);
        const Track& t = *track;
        if (!fileOf.emplace(t.id, name).second)
            fail(name + " and " + fileOf[t.id] + " both hold " + t.id);
        const std::string known = name + "\t" + identity(path);
        const bool inQueue = queued.count(t.id) != 0;
        const auto whole = [&] { finished.insert(t.id); seenNow.insert(known); };
        if (seen.count(known) && !inQueue) {
            whole();
            continue;
        }
        if (!bytes && !(bytes = readFile(path))) {
            fail("cannot read " + name);
            continue;
        }
        const std::string expected = qvr::sim::trackContent(qvr::sim::patternFromId(t.id), 0, t.size);
        const std::string sizes = " (file " + std::to_string(bytes->size()) + " bytes, " + t.id + " " + std::to_string(t.size) + ")";
        compared += bytes->size();
        if (bytes->size() > t.size || expected.compare(0, bytes->size(), *bytes) != 0) {
            const auto at = std::mismatch(bytes->begin(), bytes->end(), expected.begin(), expected.end()).first;
            fail(name + " differs from the track from byte " + std::to_string(at - bytes->begin()) + sizes);
        } else if (bytes->size() == t.size) {
            whole();
        } else if (!inQueue) {
            fail(name + " has left the download queue unfinished" + sizes);
        } else {
            ++partial;
        }
    }
    if (error)
        fail("cannot list the download folder: " + error.message());

    for (const auto& row : readTable(option["--requests"])) {
        if (row.size() != 3 || !byId.count(row[0]))
            continue;
        const std::string lost = "lost " + row[0] + ": " + byId[row[0]].title + " (requested in round " + row[1] + ", "
            + row[2] + ")";
        if (final && !finished.count(row[0]))
            fail(lost + " was not downloaded by the clean run");
        else if (!rawIds.count(row[0]) && !queued.count(row[0]) && !finished.count(row[0]))
            fail(lost + " is neither in the raw queue or the inbox nor in the download queue nor downloaded");
    }
    if (final && !queued.empty())
        fail("the download queue is not empty after the clean run");
    if (final && !rawIds.empty())
        fail("the raw queue or the inbox is not empty after the clean run");

    if (option.count("--seen")) {
        std::ofstream out(option["--seen"], std::ios::trunc);
        for (const std::string& line : seenNow)
            out << line << "\n";
    }
    std::cout << "checked: " << finished.size() << " finished, " << partial << " partial, " << waiting
              << " in the inbox, " << compared << " bytes compared\n";
    return faults == 0 ? 0 : 1;
}
