// qvr_crash_check: looks at what the program left on disk after it was killed, for crash_test.sh.
//   qvr_crash_check --store HOST:PORT --hive FILE --download-queue FILE --raw-queue FILE
//                   --music DIR --tracks FILE --requests FILE [--seen FILE] [--final]
// --tracks: "ID<TAB>TITLE<TAB>SIZE" lines; --requests: "ID<TAB>ROUND<TAB>HOW" lines. --final: both
// queues empty and every request downloaded. --seen: whole files unchanged since an earlier check
// (inode, size, mtime) are not compared again. Prints one "FAIL ..." line per fault (a lost request as
// "FAIL lost ID: ..."), then "checked: F finished, P partial, I in the inbox, B bytes compared".

#include "platform/hive.h"
#include "tools/store-sim/store_sim.h"

#include <sys/stat.h>

#include <algorithm>
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
    for (const char* needed : {"--store", "--hive", "--download-queue", "--raw-queue", "--music", "--tracks", "--requests"}) {
        if (!option.count(needed)) {
            std::cerr << "qvr_crash_check: " << needed << " is missing\n";
            return 2;
        }
    }
    std::map<std::string, Track> byTitle, byId;
    for (const auto& row : readTable(option["--tracks"]))
        if (row.size() == 3)
            byTitle[row[1]] = byId[row[0]] = Track {row[0], row[1], std::stoull(row[2])};

    const auto hive = qvr::HiveDocument::parse(readFile(option["--hive"]).value_or(""));
    if (!hive)
        fail("the settings hive is missing or does not parse");
    for (const char* name : {"DownloadQueue", "RawQueue"})
        if (hive && !hive->findValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue", name))
            fail(std::string("the settings hive lost the value ") + name);

    std::set<std::string> queuedTitles, rawIds;
    for (const std::string& line : queueLines(option["--download-queue"], "the download queue", fail)) {
        const auto bar = line.find('|');
        const auto track = byTitle.find(line.substr(0, bar));
        if (bar == std::string::npos || line.find('|', bar + 1) != std::string::npos || track == byTitle.end()) {
            fail("the download queue holds a line that is no track of the store: " + line);
            continue;
        }
        const std::string& id = track->second.id;
        if (line.substr(bar + 1) != "http://" + option["--store"] + "/tracks/" + id + ".mp3?dl=" + id)
            fail("the download queue has the wrong address for " + track->first + ": " + line.substr(bar + 1));
        if (!queuedTitles.insert(track->first).second)
            fail("the download queue holds " + track->first + " twice");
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
    const auto inbox = std::filesystem::path(option["--raw-queue"]).parent_path() / "inbox";
    for (const auto& entry : std::filesystem::directory_iterator(inbox, error)) {
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
    std::ifstream seenIn(option.count("--seen") ? option["--seen"] : "");
    for (std::string line; std::getline(seenIn, line);)
        seen.insert(line);
    std::uint64_t compared = 0;
    std::size_t partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(option["--music"], error)) {
        const std::string name = entry.path().filename().string();
        const auto track = byTitle.find(name.ends_with(".mp3") ? name.substr(0, name.size() - 4) : name);
        if (track == byTitle.end()) {
            fail("the download folder holds a file of no track: " + name);
            continue;
        }
        const Track& t = track->second;
        const std::string known = name + "\t" + identity(entry.path().string());
        const bool queued = queuedTitles.count(t.title) != 0;
        const auto whole = [&] { finished.insert(t.title); seenNow.insert(known); };
        if (seen.count(known) && !queued) {
            whole();
            continue;
        }
        const auto bytes = readFile(entry.path().string());
        if (!bytes) {
            fail("cannot read " + name);
            continue;
        }
        const std::string expected = qvr::sim::trackContent(qvr::sim::patternFromId(t.id), 0, t.size);
        const std::string sizes = " (file " + std::to_string(bytes->size()) + " bytes, track " + std::to_string(t.size) + ")";
        compared += bytes->size();
        if (bytes->size() > t.size || expected.compare(0, bytes->size(), *bytes) != 0) {
            const auto at = std::mismatch(bytes->begin(), bytes->end(), expected.begin(), expected.end()).first;
            fail(name + " differs from the track from byte " + std::to_string(at - bytes->begin()) + sizes);
        } else if (bytes->size() == t.size) {
            whole();
        } else if (!queued) {
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
        const std::string& title = byId[row[0]].title;
        const std::string lost = "lost " + row[0] + ": " + title + " (requested in round " + row[1] + ", " + row[2] + ")";
        if (final && !finished.count(title))
            fail(lost + " was not downloaded by the clean run");
        else if (!rawIds.count(row[0]) && !queuedTitles.count(title) && !finished.count(title))
            fail(lost + " is neither in the raw queue or the inbox nor in the download queue nor downloaded");
    }
    if (final && !queuedTitles.empty())
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
