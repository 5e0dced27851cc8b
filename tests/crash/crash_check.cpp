// qvr_crash_check: looks at what the program left on disk after it was killed, for
// tests/crash/crash_test.sh.
//
//   qvr_crash_check --store HOST:PORT --hive FILE --download-queue FILE --raw-queue FILE
//                   --music DIR --tracks FILE --requests FILE [--seen FILE] [--final]
//
// --tracks lists the store's tracks, one "ID<TAB>TITLE<TAB>SIZE" per line; --requests
// the requests made so far, one "ID<TAB>ROUND<TAB>HOW" per line. With --final both
// queues must be empty and every request downloaded. With --seen, whole files found
// unchanged since an earlier check (same inode, size and modification time) are not
// compared again; the file is kept up to date.
//
// It prints "checked: F finished, P partial, I in the inbox, B bytes compared", one "FAIL ..." line
// per fault (a lost request as "FAIL lost ID: ..."), and exits 1 when there is any.

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
        rows.emplace_back();
        for (std::string field; std::getline(split, field, '\t');)
            rows.back().push_back(field);
    }
    return rows;
}

// The lines of a queue file, each of which must end in CR LF and be non-empty; a
// missing file is an empty queue (the program has not saved one yet).
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

// What tells a file that was checked whole from one that changed since.
std::string identity(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_ino) + "\t" + std::to_string(st.st_size) + "\t"
        + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

int main(int argc, char** argv)
{
    int faults = 0;
    const Fail fail = [&faults](const std::string& text) {
        ++faults;
        std::cout << "FAIL " << text << "\n";
    };
    std::map<std::string, std::string> option;
    bool final = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == std::string("--final"))
            final = true;
        else if (i + 1 < argc)
            option[argv[i]] = argv[i + 1], ++i;
    }
    for (const char* needed : {"--store", "--hive", "--download-queue", "--raw-queue", "--music", "--tracks", "--requests"}) {
        if (!option.count(needed)) {
            std::cerr << "qvr_crash_check: " << needed << " is missing\n";
            return 2;
        }
    }
    std::map<std::string, Track> byTitle, byId;
    for (const auto& row : readTable(option["--tracks"])) {
        if (row.size() == 3)
            byTitle[row[1]] = byId[row[0]] = Track {row[0], row[1], std::stoull(row[2])};
    }

    const auto hive = qvr::HiveDocument::parse(readFile(option["--hive"]).value_or(""));
    if (!hive)
        fail("the settings hive is missing or does not parse");
    for (const char* name : {"DownloadQueue", "RawQueue"}) {
        if (hive && !hive->findValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue", name))
            fail(std::string("the settings hive lost the value ") + name);
    }

    std::set<std::string> queuedTitles;
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
    std::error_code error;
    std::set<std::string> rawIds;
    for (const std::string& line : queueLines(option["--raw-queue"], "the raw queue", fail)) {
        if (!line.starts_with("track=") || !byId.count(line.substr(6)))
            fail("the raw queue holds a line that is no request of the test: " + line);
        else
            rawIds.insert(line.substr(6));
    }
    // Requests a second start handed over that the window had not taken yet.
    std::size_t waiting = 0;
    const auto inbox = std::filesystem::path(option["--raw-queue"]).parent_path() / "inbox";
    for (const auto& entry : std::filesystem::directory_iterator(inbox, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("."))
            continue; // a deposit cut short, never acknowledged
        const std::string text = readFile(entry.path().string()).value_or("");
        if (!name.ends_with(".req") || !text.starts_with("track=") || !byId.count(text.substr(6))) {
            fail("the inbox holds a file that is no request of the test: " + name);
            continue;
        }
        rawIds.insert(text.substr(6));
        ++waiting;
    }
    error.clear();

    // Every file in the download folder: a true beginning of its track, whole once
    // the track has left the queue.
    std::set<std::string> seen, seenNow, finished;
    std::ifstream seenIn(option.count("--seen") ? option["--seen"] : "");
    for (std::string line; std::getline(seenIn, line);)
        seen.insert(line);
    std::uint64_t compared = 0;
    std::size_t partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(option["--music"], error)) {
        const std::string name = entry.path().filename().string();
        const std::string title = name.ends_with(".mp3") ? name.substr(0, name.size() - 4) : name;
        const auto track = byTitle.find(title);
        if (track == byTitle.end()) {
            fail("the download folder holds a file of no track: " + name);
            continue;
        }
        const std::string known = name + "\t" + identity(entry.path().string());
        const bool queued = queuedTitles.count(title) != 0;
        if (seen.count(known) && !queued) {
            finished.insert(title);
            seenNow.insert(known);
            continue;
        }
        const auto bytes = readFile(entry.path().string());
        if (!bytes) {
            fail("cannot read " + name);
            continue;
        }
        const Track& t = track->second;
        const std::string expected = qvr::sim::trackContent(qvr::sim::patternFromId(t.id), 0, t.size);
        const std::string sizes = " (file " + std::to_string(bytes->size()) + " bytes, track " + std::to_string(t.size) + ")";
        compared += bytes->size();
        if (bytes->size() > t.size || expected.compare(0, bytes->size(), *bytes) != 0) {
            const auto at = std::mismatch(bytes->begin(), bytes->end(), expected.begin(), expected.end()).first;
            fail(name + " differs from the track from byte " + std::to_string(at - bytes->begin()) + sizes);
        } else if (bytes->size() == t.size) {
            finished.insert(title);
            seenNow.insert(known);
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
