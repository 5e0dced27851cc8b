// qvr-store-sim: the store simulator as a program, for the demo and benchmarks.
//
//   qvr-store-sim [--port N] [--track ID:TITLE:SIZE]... [--requests-dir DIR]
//                 [--version-text TEXT] [--version-file NAME=PATH]... [--rate BYTES] [--latency MS]
//                 [--radio-status CODE] [--radio-page PATH] [--track-status CODE] [--retry-after VALUE]
//                 [--report-requests PREFIX] [--silent executable|radio]...
//
// SIZE is in bytes, or with a K, M or G suffix in KiB, MiB or GiB. With --rate, each
// track file is sent at no more than BYTES (same suffixes) per second; with
// --latency, every answer waits MS milliseconds first. Each track's
// content follows from a pattern made from its id (qvr::sim::patternFromId). With
// --requests-dir, one request file "<ID>.qvr" per track is written into DIR (made
// when missing). --version-text sets the body of the update folder's version list;
// --version-file serves the file at PATH (read at start) as NAME in that folder, and
// its signature PATH.sig (tools/sign-release), when there is one, as NAME.sig; a
// later --version-file NAME.sig=FILE serves another. --radio-status answers the radio
// page with CODE instead of 200, and --radio-page with the HTML file at PATH (read at
// start) instead of the simulator's own page; --track-status answers every track file
// with CODE and no body, and --retry-after gives every 503 and 429 answer that
// Retry-After. --silent takes the requests for the update folder's files
// (its version list aside), or for the radio page, and never answers them. With
// --report-requests, when it stops it prints "request SECONDS PATH" for each request
// whose path begins with PREFIX, SECONDS since it began to listen. Once the server
// listens, one
// line "listening 127.0.0.1:PORT" goes
// to stdout; SIGINT or SIGTERM stop it with exit code 0.

#include "tools/store-sim/store_sim.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using qvr::sim::StoreSimulator;
using qvr::sim::Track;

struct Options {
    int port = 0;
    std::vector<Track> tracks;
    std::string requestsDir;
    std::optional<std::string> versionText;
    std::vector<std::pair<std::string, std::string>> versionFiles; // name, bytes
    std::uint64_t rate = 0;
    int latencyMs = 0;
    int radioStatus = 200;
    int trackStatus = 0;
    std::string reportPrefix;
    std::optional<std::string> radioPage;
    std::optional<std::string> retryAfter;
    StoreSimulator::Silence silence;
};

constexpr const char* kUsage =
    "usage: qvr-store-sim [--port N] [--track ID:TITLE:SIZE]... [--requests-dir DIR]\n"
    "                     [--version-text TEXT] [--version-file NAME=PATH]... [--rate BYTES] [--latency MS]\n"
    "                     [--radio-status CODE] [--radio-page PATH] [--track-status CODE] [--retry-after VALUE]\n"
    "                     [--report-requests PREFIX] [--silent executable|radio]...\n";

std::optional<std::uint64_t> parseSize(std::string_view text)
{
    std::uint64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K': unit = 1ULL << 10; break;
        case 'M': unit = 1ULL << 20; break;
        case 'G': unit = 1ULL << 30; break;
        default: break;
        }
        if (unit != 1)
            text.remove_suffix(1);
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()
        || value > UINT64_MAX / unit)
        return std::nullopt;
    return value * unit;
}

// Ids go into URLs and file names unchanged, so only plain characters are allowed.
bool isPlainId(std::string_view id)
{
    return !id.empty() && id != "." && id != ".."
        && std::all_of(id.begin(), id.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '-' || c == '_' || c == '.';
           });
}

// The title may hold colons; the id ends at the first one, the size follows the last.
std::optional<Track> parseTrack(std::string_view text)
{
    const auto first = text.find(':');
    const auto last = text.rfind(':');
    if (first == std::string_view::npos || first == last)
        return std::nullopt;
    const std::string_view id = text.substr(0, first);
    const auto size = parseSize(text.substr(last + 1));
    if (!isPlainId(id) || !size)
        return std::nullopt;
    return Track {std::string(id), std::string(text.substr(first + 1, last - first - 1)), *size,
                  qvr::sim::patternFromId(id)};
}

// --silent: which answers never come.
bool parseSilence(std::string_view value, StoreSimulator::Silence& silence)
{
    if (value == "executable")
        silence.updateFiles = true;
    else if (value == "radio")
        silence.radioPage = true;
    else
        return false;
    return true;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            std::cerr << "qvr-store-sim: " << arg << " needs a value\n";
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        if (arg == "--port") {
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), options.port);
            if (ec != std::errc() || end != value.data() + value.size() || options.port < 0
                || options.port > 65535) {
                std::cerr << "qvr-store-sim: bad port " << value << "\n";
                return std::nullopt;
            }
        } else if (arg == "--track") {
            auto track = parseTrack(value);
            if (!track) {
                std::cerr << "qvr-store-sim: bad track " << value << " (ID:TITLE:SIZE)\n";
                return std::nullopt;
            }
            options.tracks.push_back(std::move(*track));
        } else if (arg == "--requests-dir") {
            options.requestsDir = value;
        } else if (arg == "--version-text") {
            options.versionText = std::string(value);
        } else if (arg == "--version-file") {
            const auto equals = value.find('=');
            std::ifstream file(std::string(value.substr(equals == std::string_view::npos ? 0 : equals + 1)),
                               std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (equals == std::string_view::npos || !isPlainId(value.substr(0, equals)) || !file) {
                std::cerr << "qvr-store-sim: bad update file " << value << " (NAME=PATH)\n";
                return std::nullopt;
            }
            options.versionFiles.emplace_back(value.substr(0, equals), bytes);
            std::ifstream signature(std::string(value.substr(equals + 1)) + ".sig", std::ios::binary);
            if (signature)
                options.versionFiles.emplace_back(std::string(value.substr(0, equals)) + ".sig",
                    std::string((std::istreambuf_iterator<char>(signature)), std::istreambuf_iterator<char>()));
        } else if (arg == "--rate") {
            const auto rate = parseSize(value);
            if (!rate) {
                std::cerr << "qvr-store-sim: bad rate " << value << "\n";
                return std::nullopt;
            }
            options.rate = *rate;
        } else if (arg == "--latency") {
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), options.latencyMs);
            if (ec != std::errc() || end != value.data() + value.size() || options.latencyMs < 0) {
                std::cerr << "qvr-store-sim: bad latency " << value << "\n";
                return std::nullopt;
            }
        } else if (arg == "--radio-status" || arg == "--track-status") {
            int& status = arg == "--radio-status" ? options.radioStatus : options.trackStatus;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), status);
            if (ec != std::errc() || end != value.data() + value.size() || status < 100 || status > 599) {
                std::cerr << "qvr-store-sim: bad status " << value << "\n";
                return std::nullopt;
            }
        } else if (arg == "--retry-after") {
            options.retryAfter = std::string(value);
        } else if (arg == "--report-requests") {
            options.reportPrefix = value;
        } else if (arg == "--radio-page") {
            std::ifstream file(std::string(value), std::ios::binary);
            options.radioPage = std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (!file) {
                std::cerr << "qvr-store-sim: cannot read radio page " << value << "\n";
                return std::nullopt;
            }
        } else if (arg == "--silent") {
            if (!parseSilence(value, options.silence)) {
                std::cerr << "qvr-store-sim: bad silence " << value << " (executable or radio)\n";
                return std::nullopt;
            }
        } else {
            std::cerr << "qvr-store-sim: unknown option " << arg << "\n";
            return std::nullopt;
        }
    }
    return options;
}

bool writeRequestFiles(const std::string& folder, const std::vector<Track>& tracks)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "qvr-store-sim: cannot make " << folder << ": " << error.message() << "\n";
        return false;
    }
    for (const auto& track : tracks) {
        const std::string path = folder + "/" + track.id + ".qvr";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "track=" << track.id << "\r\n";
        file.close();
        if (!file) {
            std::cerr << "qvr-store-sim: cannot write " << path << "\n";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    if (!options->requestsDir.empty() && !writeRequestFiles(options->requestsDir, options->tracks))
        return 1;

    // Blocked before any thread starts, so that every server thread inherits the
    // mask and the signals wait for sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    StoreSimulator simulator;
    for (const auto& track : options->tracks)
        simulator.addTrack(track);
    if (options->versionText)
        simulator.setVersionText(*options->versionText);
    for (const auto& [name, bytes] : options->versionFiles)
        simulator.setVersionFile(name, bytes);
    simulator.setRate(options->rate);
    simulator.setLatency(std::chrono::milliseconds(options->latencyMs));
    simulator.setRadioStatus(options->radioStatus);
    simulator.setTrackFileStatus(options->trackStatus);
    simulator.setRetryAfter(options->retryAfter);
    if (options->radioPage)
        simulator.setRadioPage(*options->radioPage);
    simulator.setSilence(options->silence);
    if (!simulator.start(options->port)) {
        std::cerr << "qvr-store-sim: cannot listen on 127.0.0.1:" << options->port << "\n";
        return 1;
    }
    const auto listening = std::chrono::steady_clock::now();
    std::cout << "listening " << simulator.hostPort() << std::endl;

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    simulator.stop();
    if (!options->reportPrefix.empty()) {
        for (const auto& request : simulator.requests()) {
            if (request.path.starts_with(options->reportPrefix))
                std::cout << "request " << std::chrono::duration<double>(request.at - listening).count() << " "
                          << request.path << "\n";
        }
    }
    return 0;
}
