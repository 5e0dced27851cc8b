// qvr_crash_check: looks at what the program left on disk after it was killed, for
// tests/crash/crash_test.sh.
//
//   qvr_crash_check --store HOST:PORT --hive FILE --download-queue FILE --raw-queue FILE
//                   --music DIR --tracks FILE --requests FILE [--seen FILE] [--final]
//
// --tracks lists the store's tracks, one "ID<TAB>TITLE<TAB>SIZE" per line; --requests
// the requests made so far, one "ID<TAB>ROUND<TAB>HOW" per line. It checks that the
// settings hive parses and still names the queue files; that both queue files are
// whole lines of known tracks; that every downloaded file is a true beginning of its
// track, and all of it once its title has left the download queue; and that every
// request made is still somewhere: in the raw queue, in the download queue, or
// downloaded. With --final both queues must be empty and every request downloaded.
// With --seen, whole files found unchanged since an earlier check (same inode, size
// and modification time) are not compared again; the file is kept up to date.
//
// It prints "checked: F finished, P partial, B bytes compared", one "FAIL ..." line
// per fault (a lost request as "FAIL lost ID: ..."), and exits 1 when there is any.

#include "platform/hive.h"
#include "tools/store-sim/store_sim.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Track {
    std::string id;
    std::string title;
    std::uint64_t size = 0;
};

struct Request {
    std::string id;
    std::string round;
    std::string how;
};

struct Options {
    std::map<std::string, std::string> paths;
    bool final = false;
};

// Prints each fault as it is found and counts them.
class Faults {
public:
    void operator()(const std::string& text)
    {
        ++m_count;
        std::cout << "FAIL " << text << "\n";
    }
    int count() const { return m_count; }

private:
    int m_count = 0;
};

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::vector<std::string>> readTable(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

// The lines of a queue file, each of which must end in CR LF and be non-empty; a
// missing file is an empty queue (the program has not saved one yet).
std::vector<std::string> queueLines(const std::string& path, const char* what, Faults& fail)
{
    std::vector<std::string> lines;
    const auto text = readFile(path);
    if (!text)
        return lines;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        if (end == std::string_view::npos) {
            fail(std::string(what) + " ends in a partial line: " + std::string(rest));
            break;
        }
        if (end == 0 || rest.substr(0, end).find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            fail(std::string(what) + " holds an empty or broken line");
        lines.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + 2);
    }
    return lines;
}

void checkHive(const Options& options, Faults& fail)
{
    const auto text = readFile(options.paths.at("--hive"));
    const auto hive = text ? qvr::HiveDocument::parse(*text) : std::nullopt;
    if (!hive) {
        fail("the settings hive is missing or does not parse");
        return;
    }
    const std::string queueKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue";
    for (const char* name : {"DownloadQueue", "RawQueue"}) {
        if (!hive->findValue(queueKey, name))
            fail(std::string("the settings hive lost the value ") + name);
    }
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
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--final")
            options.final = true;
        else if (i + 1 < argc)
            options.paths[arg] = argv[++i];
    }
    for (const char* needed : {"--store", "--hive", "--download-queue", "--raw-queue", "--music", "--tracks", "--requests"}) {
        if (!options.paths.count(needed)) {
            std::cerr << "qvr_crash_check: " << needed << " is missing\n";
            return 2;
        }
    }

    std::map<std::string, Track> byTitle;
    std::map<std::string, Track> byId;
    for (const auto& row : readTable(options.paths["--tracks"])) {
        if (row.size() == 3) {
            const Track track {row[0], row[1], std::stoull(row[2])};
            byTitle[track.title] = track;
            byId[track.id] = track;
        }
    }

    Faults fail;
    checkHive(options, fail);

    std::set<std::string> queuedTitles;
    for (const std::string& line : queueLines(options.paths["--download-queue"], "the download queue", fail)) {
        const auto bar = line.find('|');
        const std::string title = line.substr(0, bar);
        const auto track = byTitle.find(title);
        if (bar == std::string::npos || line.find('|', bar + 1) != std::string::npos || track == byTitle.end()) {
            fail("the download queue holds a line that is no track of the store: " + line);
            continue;
        }
        const std::string& id = track->second.id;
        const std::string url = "http://" + options.paths["--store"] + "/tracks/" + id + ".mp3?dl=" + id;
        if (line.substr(bar + 1) != url)
            fail("the download queue has the wrong address for " + title + ": " + line.substr(bar + 1));
        if (!queuedTitles.insert(title).second)
            fail("the download queue holds " + title + " twice");
    }

    std::set<std::string> rawIds;
    for (const std::string& line : queueLines(options.paths["--raw-queue"], "the raw queue", fail)) {
        if (!line.starts_with("track=") || !byId.count(line.substr(6)))
            fail("the raw queue holds a line that is no request of the test: " + line);
        else
            rawIds.insert(line.substr(6));
    }

    // Every file in the download folder: a true beginning of its track, whole once
    // the track has left the queue.
    std::set<std::string> seen;
    if (options.paths.count("--seen")) {
        std::ifstream in(options.paths["--seen"]);
        for (std::string line; std::getline(in, line);)
            seen.insert(line);
    }
    std::set<std::string> seenNow;
    std::set<std::string> finished;
    std::uint64_t compared = 0;
    std::size_t partial = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(options.paths["--music"], error)) {
        const std::string name = entry.path().filename().string();
        const std::string title = name.ends_with(".mp3") ? name.substr(0, name.size() - 4) : name;
        const auto track = byTitle.find(title);
        if (track == byTitle.end()) {
            fail("the download folder holds a file of no track: " + name);
            continue;
        }
        const std::string known = name + "\t" + identity(entry.path().string());
        if (seen.count(known) && queuedTitles.count(title) == 0) {
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
        const std::string expected =
            qvr::sim::trackContent(qvr::sim::patternFromId(t.id), 0, static_cast<std::size_t>(t.size));
        compared += bytes->size();
        if (bytes->size() > t.size || expected.compare(0, bytes->size(), *bytes) != 0) {
            std::size_t at = 0;
            while (at < bytes->size() && at < expected.size() && (*bytes)[at] == expected[at])
                ++at;
            fail(name + " differs from the track from byte " + std::to_string(at) + " (file " +
                 std::to_string(bytes->size()) + " bytes, track " + std::to_string(t.size) + ")");
            continue;
        }
        if (bytes->size() == t.size) {
            finished.insert(title);
            seenNow.insert(known);
        } else if (!queuedTitles.count(title)) {
            fail(name + " has left the download queue with " + std::to_string(bytes->size()) + " of " +
                 std::to_string(t.size) + " bytes");
        } else {
            ++partial;
        }
    }
    if (error)
        fail("cannot list the download folder: " + error.message());

    for (const auto& row : readTable(options.paths["--requests"])) {
        if (row.size() != 3 || !byId.count(row[0]))
            continue;
        const Request request {row[0], row[1], row[2]};
        const std::string& title = byId[request.id].title;
        const std::string made = "(requested in round " + request.round + ", " + request.how + ")";
        if (options.final && !finished.count(title)) {
            fail("lost " + request.id + ": " + title + " " + made + " was not downloaded by the clean run");
        } else if (!rawIds.count(request.id) && !queuedTitles.count(title) && !finished.count(title)) {
            fail("lost " + request.id + ": " + title + " " + made +
                 " is neither in the raw queue nor in the download queue nor downloaded");
        }
    }
    if (options.final) {
        if (!queuedTitles.empty())
            fail("the download queue is not empty after the clean run");
        if (!rawIds.empty())
            fail("the raw queue is not empty after the clean run");
    }

    if (options.paths.count("--seen")) {
        std::ofstream out(options.paths["--seen"], std::ios::trunc);
        for (const std::string& line : seenNow)
            out << line << "\n";
    }

    std::cout << "checked: " << finished.size() << " finished, " << partial << " partial, " << compared
              << " bytes compared\n";
    return fail.count() == 0 ? 0 : 1;
}
